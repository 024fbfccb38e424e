#include "processing/ExportPipeline.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <future>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "model/AtomicFile.h"
#include "model/Frames.h"
#include "model/LoudnessTarget.h"
#include "model/Localization.h"
#include "model/SplitMix64.h"
#include "model/StudioError.h"
#include "processing/AudioEncoder.h"
#include "processing/AudioIO.h"
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
            const float truePeak = Loudness::truePeakLinear(out);
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

// How far under the aim the encoding after attempt `attempt` reaches when it corrects an overshoot
// of `overshoot` dB. An encoder is close to linear in gain but not quite: its quantisation moves
// the decoded peaks by up to about a quarter of a gain change on dense noise (never seen beyond
// 0.4 dB). The reserve doubles with each further try.
double ceilingReserve(int attempt, double overshoot) {
    return std::min(0.05 + 0.25 * overshoot, 1.0) * std::ldexp(1.0, std::clamp(attempt, 1, 16) - 1);
}

// Decoded audio at `rate` hertz converted to the working rate, as the decoder itself would.
AudioData atWorkingRate(const AudioData& audio, int rate) {
    if (rate == static_cast<int>(kWorkingRate)) return audio;
    Resampler converter(rate, kWorkingRate, 2u, Resampler::Quality::high);
    const auto frames = static_cast<std::size_t>(audio.frames());
    const auto expected = static_cast<std::size_t>(static_cast<double>(frames) * kWorkingRate / rate) + 4096;
    std::vector<float> left;
    std::vector<float> right;
    left.reserve(expected);
    right.reserve(expected);
    std::vector<float>* outputs[2] = {&left, &right};
    const float* inputs[2] = {audio.left.data(), audio.right.data()};
    converter.process(inputs, frames, outputs);
    converter.flush(outputs);
    return AudioData(std::move(left), std::move(right));
}

// The peaks of a decoded file at its own rate and its loudness at the working rate. The two
// channels' true peaks and the loudness are independent and run side by side.
WrittenPeaks measureDecoded(const AudioData& decoded, int rate) {
    const auto policy = std::launch::async | std::launch::deferred;
    std::future<std::optional<double>> loudness =
        std::async(policy, [&] { return Loudness::integrated(atWorkingRate(decoded, rate)); });
    const bool mono = decoded.right.sharesStorageWith(decoded.left);
    std::future<float> right =
        std::async(policy, [&] { return mono ? 0.0f : Loudness::truePeakLinear(decoded.right.span()); });
    const float left = Loudness::truePeakLinear(decoded.left.span());
    WrittenPeaks figures;
    figures.truePeak = Loudness::decibels(std::max(left, right.get()));
    figures.samplePeak = Loudness::decibels(Loudness::samplePeakLinear(decoded));
    figures.lufs = loudness.get();
    return figures;
}

AtomicFile::Describe describeWriteFailure() {
    return [](const std::string& detail) { return L("Не удалось записать аудиофайл: {0}", detail); };
}

}  // namespace

void write(const AudioData& audio, double sampleRate, const std::filesystem::path& target, ExportFormat format) {
    const int rate = wholeRate(sampleRate);
    AtomicFile::writeSeekable(target, [&](int fd) { encodeInto(fd, audio, rate, format); }, describeWriteFailure());
}

WrittenPeaks writeWithinCeiling(const AudioData& audio, double sampleRate, const std::filesystem::path& target,
                                ExportFormat format, double ceilingDBTP) {
    const int rate = wholeRate(sampleRate);
    WrittenPeaks peaks;
    if (audio.empty()) {
        // Nothing to overshoot, and nothing a decoder would return.
        write(audio, sampleRate, target, format);
        peaks.passes = 1;
        return peaks;
    }
    AtomicFile::writeSeekable(
        target,
        [&](int fd) {
            // Other true-peak meters read a decoded file up to a few hundredths of a dB apart:
            // the file is brought a little under the ceiling.
            const double aim = ceilingDBTP - kCeilingMargin;
            const std::string written = "/proc/self/fd/" + std::to_string(fd);
            double gainDB = 0.0;
            AudioData lowered;
            const AudioData* pass = &audio;
            for (int attempt = 1;; ++attempt) {
                encodeInto(fd, *pass, rate, format);
                // What a player will decode: the file as written, at its own rate.
                int decodedRate = 0;
                const AudioData decoded = AudioIO::readAtOwnRate(written, decodedRate);
                const WrittenPeaks figures = measureDecoded(decoded, decodedRate);
                peaks.truePeak = figures.truePeak;
                peaks.samplePeak = figures.samplePeak;
                peaks.lufs = figures.lufs;
                peaks.passes = attempt;
                if (!(peaks.truePeak > aim) || attempt >= kCeilingPasses) break;
                // The encoder overshot. It is close to linear in gain (a lower limit is not: its
                // overshoot changes with the limiting), so the whole pass is lowered by the
                // overshoot and a reserve that grows with each further try, and encoded anew.
                gainDB += aim - ceilingReserve(attempt, peaks.truePeak - aim) - peaks.truePeak;
                lowered = Loudness::scaled(audio, static_cast<float>(std::pow(10.0, gainDB / 20.0)));
                pass = &lowered;
                // The new encoding starts an empty file: none of the last one's bytes may stay
                // behind its end.
                if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
                    throw PlatformError(L("Не удалось записать аудиофайл: {0}", std::string(std::strerror(errno))));
            }
        },
        describeWriteFailure());
    return peaks;
}

}  // namespace tessoral::ExportPipeline
