#include "processing/ExportPipeline.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "model/AtomicFile.h"
#include "model/Frames.h"
#include "model/LoudnessTarget.h"
#include "model/Localization.h"
#include "model/SplitMix64.h"
#include "model/StudioError.h"
#include "model/UnicodeText.h"
#include "processing/AacStretches.h"
#include "processing/AudioEncoder.h"
#include "model/VectorOps.h"
#include "processing/ReconstructionPeak.h"
#include "processing/Resampler.h"

namespace tessoral::ExportPipeline {

namespace {

constexpr double kWorkingRate = 48000.0;
// Rates beyond this are refused: the converted audio would not fit any sensible memory budget.
constexpr double kHighestRate = 768000.0;

[[noreturn]] void failPrepare() { throw StudioError(L("Не удалось подготовить преобразование частоты дискретизации.")); }

// The top 24 bits as a single-precision number in [0, 1).
inline float unit(std::uint64_t bits) { return static_cast<float>(bits >> 40) * (1.0f / 16777216.0f); }

void ditherChannel(std::vector<float>& samples, SplitMix64& rng) {
    for (float& x : samples) {
        const float u1 = unit(rng.next());
        const float u2 = unit(rng.next());
        const float y = x * 32768.0f + u1 - u2;
        float q = std::round(y);
        if (!(q >= -32768.0f)) q = -32768.0f;  // NaN included
        if (q > 32767.0f) q = 32767.0f;
        x = q / 32768.0f;
    }
}

// The writer's clipping: ±1.0, and a NaN (which no encoder can represent) becomes silence.
inline float clipSample(float x) {
    x = x == x ? x : 0.0f;
    x = x > 1.0f ? 1.0f : x;
    return x < -1.0f ? -1.0f : x;
}

}  // namespace

AudioData resample(const AudioData& audio, double rate) {
    if (rate == kWorkingRate || audio.empty()) return audio;
    if (!(rate >= 1.0 && rate <= kHighestRate)) failPrepare();

    const std::int64_t frames = audio.frames();
    const std::int64_t expected = roundSaturating(static_cast<double>(frames) * rate / kWorkingRate);
    std::optional<Resampler> converter;
    std::vector<float> left;
    std::vector<float> right;
    try {
        converter.emplace(kWorkingRate, rate, 2u, Resampler::Quality::veryHigh);
        left.reserve(static_cast<std::size_t>(expected) + 4096);
        right.reserve(static_cast<std::size_t>(expected) + 4096);
    } catch (const PlatformError&) {
        failPrepare();
    } catch (const std::bad_alloc&) {
        failPrepare();
    }

    std::vector<float>* outputs[2] = {&left, &right};
    for (std::int64_t done = 0; done < frames; done += kConverterBlock) {
        const auto n = static_cast<std::size_t>(std::min(kConverterBlock, frames - done));
        const float* inputs[2] = {audio.left.data() + done, audio.right.data() + done};
        converter->process(inputs, n, outputs);
    }
    converter->flush(outputs);

    left.resize(static_cast<std::size_t>(expected), 0.0f);
    right.resize(static_cast<std::size_t>(expected), 0.0f);
    return AudioData(std::move(left), std::move(right));
}

void dither16(AudioData& audio, std::uint64_t seed) {
    if (audio.empty()) return;
    SplitMix64 rng(seed);
    ditherChannel(audio.left.mutableVector(), rng);
    ditherChannel(audio.right.mutableVector(), rng);
}

ExportResult exportMix(const AudioData& audio, const std::filesystem::path& target, const ExportOptions& options) {
    AudioData normalised = Loudness::normalize(audio, options.loudness);
    const ExportSampleRate rate = options.effectiveSampleRate();
    const bool converted = rate != ExportSampleRate::hz48000;
    AudioData out = resample(normalised, rawValue(rate));

    // Conversion moves peaks between samples: correct them once more at the new rate.
    if (converted && options.loudness == LoudnessTarget::peak) {
        if (const std::optional<float> factor = Loudness::peakNormalizationFactor(Loudness::samplePeakLinear(out))) {
            normalised = Loudness::scaled(normalised, *factor);
            out = Loudness::scaled(out, *factor);
        }
    } else if (converted) {
        if (const std::optional<double> ceiling = truePeakCeiling(options.loudness)) {
            const float truePeak = reconstruction_peak::peakLinear(out);
            if (truePeak > 0.0f && Loudness::decibels(truePeak) > *ceiling) out = Loudness::limited(out, *ceiling);
        }
    }

    // A lossy encoder moves peaks again: with a ceiling, what it wrote is measured, and held under
    // the ceiling by encoding once more where it overshot. Otherwise the measurement runs beside the
    // encoder; the lambda holds its own references to the samples, so dithering `out` below copies
    // rather than changes what is measured.
    const std::optional<double> ceiling = truePeakCeiling(options.loudness);
    const bool measuredFromFile = isAAC(options.format) && ceiling;
    std::future<LoudnessMeasurement> measuring;
    if (!measuredFromFile) {
        measuring = std::async(std::launch::async | std::launch::deferred, [converted, normalised, out]() -> LoudnessMeasurement {
            if (!converted) return LoudnessMeasurement(normalised);
            // The loudness is the 48 kHz mix's; the peaks are those of what is written.
            return LoudnessMeasurement(Loudness::integrated(normalised),
                                       Loudness::decibels(Loudness::truePeakLinear(out)),
                                       Loudness::decibels(Loudness::samplePeakLinear(out)));
        });
    }
    normalised = AudioData();

    ExportResult result;
    if (options.format != ExportFormat::wav32f) {
        result.clipped = !out.empty() && Loudness::samplePeakLinear(out) > 1.0f;
        if (options.dither && options.format == ExportFormat::wav16) dither16(out, kDitherSeed);
    }
    if (measuredFromFile) {
        const WrittenPeaks written = writeWithinCeiling(out, rawValue(rate), target, options.format, *ceiling);
        result.measurement = LoudnessMeasurement(written.lufs, written.truePeak, written.samplePeak);
        result.encodings = written.passes;
    } else {
        write(out, rawValue(rate), target, options.format);
        result.measurement = measuring.get();
    }
    result.frames = out.frames();
    return result;
}

namespace {

// The encoders take whole hertz; anything else is refused by the encoder as an invalid rate.
int wholeRate(double sampleRate) {
    const bool whole = std::isfinite(sampleRate) && sampleRate >= 1.0 && sampleRate <= kHighestRate &&
                       sampleRate == std::floor(sampleRate);
    return whole ? static_cast<int>(sampleRate) : 0;
}

// Encodes the whole signal into the open file `fd` (from its start).
void encodeInto(int fd, const AudioData& audio, int rate, ExportFormat format) {
    AudioEncoder encoder(fd, format, rate);
    const std::int64_t frames = audio.frames();
    if (!isAAC(format)) {
        // "wav32f" keeps the samples as they are; the integer formats saturate at the largest
        // step while quantising, which is the same as clipping to ±1.0 first.
        for (std::int64_t done = 0; done < frames; done += kWriterBlock) {
            const auto n = static_cast<std::size_t>(std::min(kWriterBlock, frames - done));
            encoder.write(audio.left.data() + done, audio.right.data() + done, n);
        }
    } else {
        std::vector<float> left;
        std::vector<float> right;
        try {
            left.resize(static_cast<std::size_t>(std::min(kWriterBlock, frames)));
            right.resize(left.size());
        } catch (const std::bad_alloc&) {
            throw StudioError(L("Не удалось выделить память для звука."));
        }
        for (std::int64_t done = 0; done < frames; done += kWriterBlock) {
            const auto n = static_cast<std::size_t>(std::min(kWriterBlock, frames - done));
            const float* l = audio.left.data() + done;
            const float* r = audio.right.data() + done;
            for (std::size_t i = 0; i < n; ++i) {
                left[i] = clipSample(l[i]);
                right[i] = clipSample(r[i]);
            }
            encoder.write(left.data(), right.data(), n);
        }
    }
    encoder.finish();
}

// How far under the aim a corrected encoding reaches when the signal itself overshoots the aim by
// `overshoot` dB. An encoder is close to linear in gain but not quite: its quantisation moves the
// decoded peaks of dense material by a few tenths of a dB from one gain to the next, more where
// the overshoot is large. Encodings that still land over are corrected again from what they
// measured; the reserve never grows with the number of tries.
double ceilingReserve(double overshoot) { return 0.1 + 0.1 * std::clamp(overshoot, 0.0, 2.0); }

// The loudness and peaks of a decoded signal at `rate` hertz handed over piece by piece: the true
// and sample peaks at that rate, the loudness at the working rate (converted as import converts).
class DecodedMeter {
public:
    explicit DecodedMeter(int rate) {
        if (rate != static_cast<int>(kWorkingRate)) converter_.emplace(rate, kWorkingRate, 2u, Resampler::Quality::high);
    }

    void add(const float* left, const float* right, std::size_t frames) {
        left_.add(left, frames);
        right_.add(right, frames);
        samplePeak_ = std::max({samplePeak_, vec::maxMagnitude(left, frames), vec::maxMagnitude(right, frames)});
        if (converter_) {
            const float* inputs[2] = {left, right};
            convert(inputs, frames);
        } else {
            loudness_.add(left, right, frames);
        }
    }

    WrittenPeaks finish() {
        if (converter_) convert({}, 0);
        WrittenPeaks figures;
        figures.truePeak = Loudness::decibels(std::max(left_.finish(), right_.finish()));
        figures.samplePeak = Loudness::decibels(samplePeak_);
        figures.lufs = loudness_.integrated();
        return figures;
    }

private:
    // Converts the frames to the working rate and measures them; no frames ends the signal.
    void convert(const float* const* inputs, std::size_t frames) {
        std::vector<float>* outputs[2] = {&converted_[0], &converted_[1]};
        if (frames > 0) converter_->process(std::span(inputs, 2), frames, outputs);
        else converter_->flush(outputs);
        loudness_.add(converted_[0].data(), converted_[1].data(), converted_[0].size());
        converted_[0].clear();
        converted_[1].clear();
    }

    TruePeakMeter left_;
    TruePeakMeter right_;
    float samplePeak_ = 0.0f;
    LoudnessMeter loudness_;
    std::optional<Resampler> converter_;
    std::vector<float> converted_[2];
};

std::string writeFailure(const std::filesystem::path& target, const std::string& reason) {
    return L("Не удалось записать аудиофайл «{0}»: {1}", UnicodeText::wellFormed(target.filename().native()), reason);
}

// Writes `target` through `produce`; every failure of the file system or the encoder names the file.
void writeNamingFailures(const std::filesystem::path& target, const std::function<void(int fd)>& produce) {
    try {
        AtomicFile::writeSeekable(target, produce, [&](const std::string& reason) { return writeFailure(target, reason); });
    } catch (const AudioWriteError& e) {
        throw PlatformError(writeFailure(target, e.reason()));
    }
}

// Encodings of one signal at plain gains, each in stretches side by side (AacStretches) and
// measured on what decoding it gives; the file is the loudest that lands at or under the aim.
//
// An encoding of a few minutes is only a few stretches, so several gains are encoded at once, in
// rounds. The first round takes the signal as it is (the file when it lands under; otherwise it
// tells the signal's own overshoot) and, beside it, gains lower by a dB or so. While nothing has
// landed, the next round is lowered from the quietest encoding that went over by its excess and
// a reserve of tenths of a dB (an encoder is close to linear in gain). Once one has landed, louder
// gains are tried in fine steps up to kReach above the loudest that landed, and again above any
// louder one that lands: this encoder's overshoot is not monotonic in gain (a gain may land
// where a quieter one went over), so the search does not stop at the first gain that goes over.
class CeilingSearch {
public:
    CeilingSearch(const AudioData& audio, int rate, ExportFormat format, double aim, int maxPasses)
        : audio_(audio), rate_(rate), format_(format), aim_(aim), maxPasses_(std::max(maxPasses, 1)) {}

    struct Pass {
        double gainDB;
        double peakDB;   // the true peak, or where it passed the aim when given up
        bool gaveUp;
        std::unique_ptr<AacStretches> encoding;
        // What a player decodes from it, measured whole, beside the encodings that follow.
        std::future<WrittenPeaks> measured;
    };

    // The chosen encoding, its measurement under way; passes() tells how many were made.
    Pass& run() {
        // As many encodings at once as keep every core busy with their stretches.
        const double cores = std::max(1u, std::thread::hardware_concurrency());
        const int side = std::clamp(static_cast<int>(std::lround(cores / AacStretches::count(rate_, audio_.frames()))), 1, kMostSideBySide);
        const double step = kReach / std::max(side, 2);
        // The first round leaves room for at least one more; lower gains go beside the signal as
        // it is only where its own peak already comes near the aim (the sample peak will do).
        std::vector<double> gains{0.0};
        const double own = Loudness::decibels(Loudness::samplePeakLinear(audio_));
        if (own > aim_ - kFirstSpread)
            for (int i = 1; i < std::min(side, maxPasses_ - 1); ++i) gains.push_back(std::clamp(aim_ - own, -kFirstSpread, 0.0) - kFirstSpread * i / side);
        while (!gains.empty()) {
            encodeRound(gains);
            gains.clear();
            const int allowed = std::min(side, maxPasses_ - passes());
            const Pass* best = loudestUnder();
            if (!best) {
                // Lowered by the excess of an encoding that went over and the reserve, from
                // whichever asks for the lowest gain; one given up (whose excess is known only in
                // part) takes the reserve twice.
                double from = HUGE_VAL;
                for (const Pass& over : passes_) {
                    const double reserves = over.gaveUp ? 2.0 : 1.0;
                    from = std::min(from, over.gainDB - (over.peakDB - aim_) - reserves * ceilingReserve(passes_.front().peakDB - aim_));
                }
                for (int i = 0; i < allowed; ++i) gains.push_back(from - step * i);
                continue;
            }
            const double top = std::min(0.0, best->gainDB + kReach + 1e-9);
            for (double gain = best->gainDB + step; gain <= top && static_cast<int>(gains.size()) < allowed; gain += step)
                if (!tried(gain, step / 2)) gains.push_back(gain);
        }
        Pass* chosen = const_cast<Pass*>(loudestUnder());
        if (!chosen) {
            // Nothing landed under: the whole encoding that came closest.
            chosen = &passes_.front();
            for (Pass& pass : passes_)
                if (!pass.gaveUp && pass.peakDB < chosen->peakDB) chosen = &pass;
        }
        if (!chosen->measured.valid()) measure(*chosen);
        return *chosen;
    }

    int passes() const { return static_cast<int>(passes_.size()); }

private:
    // How far above the loudest gain that landed louder ones are tried, dB; the spread of the first
    // round's gains under the signal's own; the most encodings in one round.
    static constexpr double kReach = 0.6;
    static constexpr double kFirstSpread = 1.2;
    static constexpr int kMostSideBySide = 4;

    bool tried(double gain, double within) const {
        return std::any_of(passes_.begin(), passes_.end(), [&](const Pass& pass) { return std::fabs(pass.gainDB - gain) < within; });
    }

    // Encodes the signal at each of `gains` side by side. The signal as it is, and every encoding
    // of the last round allowed, run to their end whatever they measure: the others are given up
    // as soon as they pass the aim.
    void encodeRound(const std::vector<double>& gains) {
        const bool last = passes() + static_cast<int>(gains.size()) >= maxPasses_;
        std::vector<std::future<Pass>> round;
        for (std::size_t i = 1; i < gains.size(); ++i)
            round.push_back(std::async(std::launch::async, [this, gain = gains[i], last] { return encode(gain, last); }));
        std::exception_ptr failure;
        std::vector<Pass> made;
        try {
            made.push_back(encode(gains.front(), last || passes_.empty()));
        } catch (...) {
            failure = std::current_exception();
        }
        for (auto& pass : round) {
            try {
                made.push_back(pass.get());
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
        }
        if (failure) std::rethrow_exception(failure);
        const Pass* before = loudestUnder();
        const double loudest = before ? before->gainDB : -HUGE_VAL;
        for (Pass& pass : made) passes_.push_back(std::move(pass));
        // The loudest that landed is measured beside the rounds that follow.
        if (Pass* best = const_cast<Pass*>(loudestUnder()); best && best->gainDB > loudest) measure(*best);
    }

    Pass encode(double gainDB, bool whole) const {
        const auto gain = static_cast<float>(std::pow(10.0, gainDB / 20.0));
        const AudioData& audio = audio_;
        auto source = [&audio, gain](std::int64_t from, std::size_t frames, float* left, float* right) {
            const float* l = audio.left.data() + from;
            const float* r = audio.right.data() + from;
            for (std::size_t i = 0; i < frames; ++i) {
                left[i] = clipSample(l[i] * gain);
                right[i] = clipSample(r[i] * gain);
            }
        };
        const auto giveUpAbove = whole ? std::numeric_limits<float>::infinity() : static_cast<float>(std::pow(10.0, aim_ / 20.0));
        auto encoding = std::make_unique<AacStretches>(format_, rate_, audio_.frames(), source, giveUpAbove);
        const double peakDB = encodedPeakDB(*encoding);
        const bool gaveUp = encoding->gaveUp();
        return Pass{gainDB, peakDB, gaveUp, std::move(encoding), {}};
    }

    // The peak an encoding is held to the aim by: its true peak, as a player decodes it.
    static double encodedPeakDB(const AacStretches& encoding) { return Loudness::decibels(encoding.peaks().truePeak); }

    void measure(Pass& pass) const {
        pass.measured = std::async(std::launch::async, [encoding = pass.encoding.get(), rate = rate_] {
            DecodedMeter meter(rate);
            encoding->decode([&](const float* l, const float* r, std::size_t n) { meter.add(l, r, n); });
            return meter.finish();
        });
    }

    const Pass* loudestUnder() const {
        const Pass* best = nullptr;
        for (const Pass& pass : passes_)
            if (!(pass.peakDB > aim_) && (!best || pass.gainDB > best->gainDB)) best = &pass;
        return best;
    }

    const AudioData& audio_;
    const int rate_;
    const ExportFormat format_;
    const double aim_;
    const int maxPasses_;
    std::vector<Pass> passes_;
};

}  // namespace

void write(const AudioData& audio, double sampleRate, const std::filesystem::path& target, ExportFormat format) {
    const int rate = wholeRate(sampleRate);
    writeNamingFailures(target, [&](int fd) { encodeInto(fd, audio, rate, format); });
}

WrittenPeaks writeWithinCeiling(const AudioData& audio, double sampleRate, const std::filesystem::path& target,
                                ExportFormat format, double ceilingDBTP, int maxPasses) {
    const int rate = wholeRate(sampleRate);
    WrittenPeaks peaks;
    if (audio.empty()) {
        // Nothing to overshoot, and nothing a decoder would return.
        write(audio, sampleRate, target, format);
        peaks.passes = 1;
        return peaks;
    }
    // The search holds the peak a player reconstructs (AacStretches::peaks: the larger of the 4x
    // meter's reading and an 8x reconstruction's) under the ceiling less a margin, because meters
    // of decoded files differ by more than a few hundredths: the 8x points can miss up to 0.1 dB
    // of a peak near 20 kHz, and ffmpeg's ebur128 meter read AAC files of dense hits up to 0.27 dB
    // above the 4x meter.
    CeilingSearch search(audio, rate, format, ceilingDBTP - kCeilingMargin, maxPasses);
    WrittenPeaks figures;
    try {
        CeilingSearch::Pass& chosen = search.run();
        // The file is written while what it decodes to is measured whole, as a player decodes it.
        writeNamingFailures(target, [&](int fd) { chosen.encoding->writeInto(fd); });
        figures = chosen.measured.get();
    } catch (const AudioWriteError& e) {
        throw PlatformError(writeFailure(target, e.reason()));
    }
    peaks.lufs = figures.lufs;
    peaks.truePeak = figures.truePeak;
    peaks.samplePeak = figures.samplePeak;
    peaks.passes = search.passes();
    return peaks;
}

}  // namespace tessoral::ExportPipeline
