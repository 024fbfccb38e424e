#include "processing/ExportPipeline.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cmath>
#include <exception>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
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
#include "processing/AudioEncoder.h"
#include "model/VectorOps.h"
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

// Thrown inside an encoding that is no longer wanted.
struct EncodingStopped {};

// Encodes the whole signal into the open file `fd` (from its start). An AAC encoding takes the
// signal times `gain`, hands what decoding the file gives to `sink` (when given) as it is
// written, and ends early with EncodingStopped once `stop` (when given) is set.
void encodeInto(int fd, const AudioData& audio, int rate, ExportFormat format, float gain = 1.0f,
                const std::atomic<bool>* stop = nullptr, AudioEncoder::DecodedSink sink = {}) {
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
        if (sink) encoder.decodeAlongside(std::move(sink));
        std::vector<float> left;
        std::vector<float> right;
        try {
            left.resize(static_cast<std::size_t>(std::min(kWriterBlock, frames)));
            right.resize(left.size());
        } catch (const std::bad_alloc&) {
            throw StudioError(L("Не удалось выделить память для звука."));
        }
        for (std::int64_t done = 0; done < frames; done += kWriterBlock) {
            if (stop && stop->load(std::memory_order_relaxed)) throw EncodingStopped{};
            const auto n = static_cast<std::size_t>(std::min(kWriterBlock, frames - done));
            const float* l = audio.left.data() + done;
            const float* r = audio.right.data() + done;
            for (std::size_t i = 0; i < n; ++i) {
                left[i] = clipSample(l[i] * gain);
                right[i] = clipSample(r[i] * gain);
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
// `onPeak` hears each rise of the true peak measured so far, in dBTP, with the number of frames
// measured when it rose.
class DecodedMeter {
public:
    DecodedMeter(int rate, std::function<void(double, std::int64_t)> onPeak) : onPeak_(std::move(onPeak)) {
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
        frames_ += static_cast<std::int64_t>(frames);
        const float peak = std::max(left_.peak(), right_.peak());
        if (peak > reported_) {
            reported_ = peak;
            if (onPeak_) onPeak_(Loudness::decibels(peak), frames_);
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

    std::function<void(double, std::int64_t)> onPeak_;
    std::int64_t frames_ = 0;
    TruePeakMeter left_;
    TruePeakMeter right_;
    float samplePeak_ = 0.0f;
    float reported_ = 0.0f;
    LoudnessMeter loudness_;
    std::optional<Resampler> converter_;
    std::vector<float> converted_[2];
};

std::string writeFailure(const std::filesystem::path& target, const std::string& reason) {
    return L("Не удалось записать аудиофайл «{0}»: {1}", UnicodeText::wellFormed(target.filename().native()), reason);
}

[[noreturn]] void failWrite(int error) { throw AudioWriteError(std::strerror(error)); }

// Writes `target` through `produce`; every failure of the file system or the encoder names the file.
void writeNamingFailures(const std::filesystem::path& target, const std::function<void(int fd)>& produce) {
    try {
        AtomicFile::writeSeekable(target, produce, [&](const std::string& reason) { return writeFailure(target, reason); });
    } catch (const AudioWriteError& e) {
        throw PlatformError(writeFailure(target, e.reason()));
    }
}

// One encoding of the whole signal at a plain gain, into a file that lives in memory only (no
// byte of a pass that is given up ever reaches the disk, even when the program is killed),
// measured as it is written.
struct CeilingPass {
    double gainDB = 0.0;
    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread thread;
    // Guarded by the passes' mutex.
    double peakDB = -std::numeric_limits<double>::infinity();  // true peak of what was decoded so far
    std::vector<std::pair<std::int64_t, double>> rises;  // frames decoded and the peak, at each rise
    std::atomic<std::int64_t> decoded{0};  // frames decoded so far; read without the mutex
    bool done = false;
    std::optional<WrittenPeaks> figures;  // when it ran to its end
    std::exception_ptr error;

    CeilingPass() = default;
    CeilingPass(const CeilingPass&) = delete;
    CeilingPass& operator=(const CeilingPass&) = delete;
    ~CeilingPass() {
        if (fd >= 0) ::close(fd);
    }
};

// Encodings of one signal at falling gains, run side by side; the file is the loudest one that
// lands at or under the aim.
//
// The first pass encodes the signal as it is and always runs to its end: it is the file when it
// stays under the aim, and otherwise it learns the signal's own overshoot ahead of every other
// pass. As soon as its running true peak passes the aim, a corrected pass starts beside it at a
// plain gain lowered by that overshoot and a small reserve (an encoder is close to linear in
// gain). A corrected pass is given up once its own peak goes over the aim, once what the first
// pass found after the point it has reached predicts it ends clearly over, or once a louder pass
// has landed under the aim. When no pass still running is expected to land under, the next one
// starts from what is known by then: the first pass's overshoot, and every pass that went over
// at its own gain.
//
// Each hit of dense material overshoots by an amount of its own, and the largest of them often
// comes late: a second full encoding after the first would double the time, while a correction
// started early and renewed only when the first pass finds a larger overshoot mostly ends
// about when the first pass does. While the first pass's peak keeps rising, no new pass starts
// until it has been steady for a moment, so that one rise after another does not use up the
// encodings allowed. Where the first pass's peak is foreseen to rise further, a second pass
// counting on that rise runs beside the one that does not; the last one allowed counts on it
// and on twice the reserve.
class CeilingPasses {
public:
    CeilingPasses(const AudioData& audio, int rate, ExportFormat format, double aim, int maxPasses)
        : audio_(audio), rate_(rate), format_(format), aim_(aim), maxPasses_(std::max(maxPasses, 1)),
          settle_(static_cast<std::int64_t>(kSettleSeconds * rate)),
          settleLongest_(static_cast<std::int64_t>(kSettleLongest * rate)) {}

    ~CeilingPasses() {
        for (auto& pass : passes_) pass->stop = true;
        for (auto& pass : passes_)
            if (pass->thread.joinable()) pass->thread.join();
    }

    // Runs the passes and copies the chosen one into `fd`; the figures are its own, `passes`
    // the number of encodings started (given up or not).
    WrittenPeaks writeInto(int fd) {
        CeilingPass& chosen = choose();
        for (auto& pass : passes_) pass->stop = true;
        WrittenPeaks peaks = *chosen.figures;
        peaks.passes = static_cast<int>(passes_.size());
        peaks.correctedAfter = correctedAfter_;
        copyFile(chosen.fd, fd);
        return peaks;
    }

private:
    // The steady stretch the first pass must show before a further correction starts, in seconds.
    static constexpr double kSettleSeconds = 1.0;
    static constexpr double kSettleLongest = 8.0;
    // How far over the aim a corrected pass may be predicted to end and still run on: the
    // prediction errs either way by a few tenths of a dB.
    static constexpr double kPredictionSlack = 0.3;

    static bool live(const CeilingPass& pass) { return !pass.done && !pass.stop; }
    static bool landed(const CeilingPass& pass, double aim) {
        return pass.done && pass.figures && !(pass.figures->truePeak > aim);
    }

    CeilingPass& choose() {
        std::unique_lock lock(mutex_);
        start(0.0);
        CeilingPass& first = *passes_.front();
        for (;;) {
            for (auto& pass : passes_)
                if (pass->done && pass->error) std::rethrow_exception(pass->error);
            // The loudest pass that landed under the aim is the file once no louder one runs.
            CeilingPass* best = nullptr;
            for (auto& pass : passes_)
                if (landed(*pass, aim_) && (!best || pass->gainDB > best->gainDB)) best = pass.get();
            bool louderRunning = false;
            for (auto& pass : passes_) louderRunning |= live(*pass) && (!best || pass->gainDB > best->gainDB);
            if (best && !louderRunning) return *best;

            const bool full = static_cast<int>(passes_.size()) >= maxPasses_;
            // Corrected passes that can no longer be the file are given up; with no encoding
            // left to start, the newest runs on whatever it measures.
            for (std::size_t i = 1; i < passes_.size(); ++i) {
                CeilingPass& pass = *passes_[i];
                if (!live(pass) || (full && i + 1 == passes_.size())) continue;
                if (pass.peakDB > aim_ || predicted(pass) > aim_ + kPredictionSlack || (best && pass.gainDB < best->gainDB))
                    pass.stop = true;
            }
            bool hopeful = false;  // a corrected pass runs that is expected to land under
            for (std::size_t i = 1; i < passes_.size(); ++i)
                hopeful |= live(*passes_[i]) && !(predicted(*passes_[i]) > aim_);
            const bool last = static_cast<int>(passes_.size()) + 1 == maxPasses_;
            const bool steady = passes_.size() == 1 || steadyFirst();
            const bool wanted = !full && first.peakDB > aim_ && !hopeful && !best;
            if (wanted && steady) {
                // Two corrected passes at most run at once: the one predicted highest yields.
                CeilingPass* highest = nullptr;
                int running = 0;
                for (std::size_t i = 1; i < passes_.size(); ++i) {
                    CeilingPass& pass = *passes_[i];
                    if (!live(pass)) continue;
                    ++running;
                    if (!highest || predicted(pass) > predicted(*highest)) highest = &pass;
                }
                if (running >= 2) highest->stop = true;
                if (last && passes_.size() > 1) {
                    // Nothing may come after the last encoding allowed: it counts on the further
                    // rise foreseen and twice the reserve.
                    start(nextGain(1.0, 2.0));
                    continue;
                }
                // One pass at the gain that what is known asks for; where the first pass's peak
                // is foreseen to rise clearly further, a second one counting on that rise runs
                // beside it (the last encoding allowed is kept back), so that a later rise does
                // not call for a new pass that starts late.
                const double plain = nextGain(0.0, 1.0), foreseen = nextGain(1.0, 1.0);
                start(plain);
                if (foreseen < plain - kPredictionSlack && static_cast<int>(passes_.size()) + 1 < maxPasses_) {
                    for (std::size_t i = 1; i + 1 < passes_.size(); ++i)
                        if (live(*passes_[i])) passes_[i]->stop = true;
                    start(foreseen);
                }
                continue;
            }
            bool running = false;
            for (auto& pass : passes_) running |= live(*pass);
            if (!running) {
                // Nothing landed under and nothing more may start: the file is the pass that
                // came closest.
                CeilingPass* closest = nullptr;
                for (auto& pass : passes_)
                    if (pass->figures && (!closest || pass->figures->truePeak < closest->figures->truePeak))
                        closest = pass.get();
                if (closest) return *closest;
            }
            if (wanted) {
                // Wake when the first pass's peak has been steady for long enough.
                changed_.wait_for(lock, std::chrono::milliseconds(20));
                continue;
            }
            changed_.wait(lock);
        }
    }

    // Whether the first pass's peak has stopped rising for the moment: no rise over the last
    // quarter of what it has measured, at least kSettleSeconds and at most kSettleLongest (records
    // of a steady material grow rarer as it goes on).
    bool steadyFirst() const {
        const CeilingPass& first = *passes_.front();
        if (first.done || first.rises.empty()) return true;
        const std::int64_t reached = first.decoded.load(std::memory_order_relaxed);
        const std::int64_t wanted = std::clamp(reached / 4, settle_, settleLongest_);
        return reached - first.rises.back().first >= wanted;
    }

    // The gain of the next corrected pass: under the aim by the reserve, going by the first
    // pass's overshoot so far, and under every gain that went over at its own peak. What such a
    // pass found beyond the first pass's prediction is the encoder straying from linear at that
    // gain, which a lower gain repeats only in part: the step under it is half its excess and
    // the reserve. The reserve is taken `safety` times.
    double nextGain(double foresight, double safety) const {
        const double unity = foreseenPeak(foresight);
        const double reserve = safety * ceilingReserve(unity - aim_);
        double gain = aim_ - reserve - unity;
        for (std::size_t i = 1; i < passes_.size(); ++i) {
            const CeilingPass& pass = *passes_[i];
            const double excess = pass.peakDB - aim_;
            if (excess > 0.0) gain = std::min(gain, pass.gainDB - 0.5 * excess - reserve);
        }
        return gain;
    }

    // The first pass's peak at its end, as far as can be told: the peak so far and `share` of
    // the rise still to come. The largest of many hits' overshoots grows about evenly in the
    // logarithm of the length measured; its pace is read from the rise since the first pass
    // first went over the aim.
    double foreseenPeak(double share) const {
        const CeilingPass& first = *passes_.front();
        if (first.done) return first.peakDB;
        const auto over = std::find_if(first.rises.begin(), first.rises.end(),
                                       [&](const auto& rise) { return rise.second > aim_; });
        const auto reached = static_cast<double>(first.decoded.load(std::memory_order_relaxed));
        if (over == first.rises.end() || !(reached > 2.0 * static_cast<double>(std::max<std::int64_t>(over->first, 1))))
            return first.peakDB;
        const double pace = (first.peakDB - over->second) / std::log(reached / static_cast<double>(std::max<std::int64_t>(over->first, 1)));
        const double toCome = pace * std::log(std::max(static_cast<double>(audio_.frames()) / reached, 1.0));
        return first.peakDB + share * toCome;
    }

    // Where a pass's true peak will end, as far as is known: its own peak so far, or, where the
    // first pass's peak rose after the point this pass has reached, that peak moved by the gain
    // (an encoder is close to linear in gain).
    double predicted(const CeilingPass& pass) const {
        const CeilingPass& first = *passes_.front();
        if (&pass == &first) return first.peakDB;
        const std::int64_t reached = pass.decoded.load(std::memory_order_relaxed);
        const bool roseLater = first.rises.empty() || first.rises.back().first > reached;
        return std::max(pass.peakDB, roseLater ? first.peakDB + pass.gainDB : -std::numeric_limits<double>::infinity());
    }

    void start(double gainDB) {
        if (passes_.size() == 1) correctedAfter_ = passes_.front()->decoded.load(std::memory_order_relaxed);
        auto pass = std::make_unique<CeilingPass>();
        pass->gainDB = gainDB;
        pass->fd = ::memfd_create("export-pass", MFD_CLOEXEC);
        if (pass->fd < 0) failWrite(errno);
        CeilingPass* p = pass.get();
        passes_.push_back(std::move(pass));
        p->thread = std::thread([this, p] { run(*p); });
    }

    void run(CeilingPass& pass) {
        std::optional<WrittenPeaks> figures;
        std::exception_ptr error;
        try {
            DecodedMeter meter(rate_, [&](double peakDB, std::int64_t frames) {
                std::lock_guard lock(mutex_);
                pass.peakDB = peakDB;
                pass.rises.emplace_back(frames, peakDB);
                changed_.notify_all();
            });
            const auto gain = static_cast<float>(std::pow(10.0, pass.gainDB / 20.0));
            encodeInto(pass.fd, audio_, rate_, format_, gain, &pass.stop, [&](const float* l, const float* r, std::size_t n) {
                pass.decoded.fetch_add(static_cast<std::int64_t>(n), std::memory_order_relaxed);
                meter.add(l, r, n);
            });
            figures = meter.finish();
        } catch (const EncodingStopped&) {
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        pass.done = true;
        pass.error = error;
        if (figures) pass.peakDB = figures->truePeak;
        pass.figures = figures;
        changed_.notify_all();
    }

    static void copyFile(int from, int to) {
        std::vector<char> buffer(1 << 20);
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(from, buffer.data(), buffer.size(), at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) failWrite(errno);
            if (n == 0) return;
            for (ssize_t put = 0; put < n;) {
                const ssize_t w = ::write(to, buffer.data() + put, static_cast<std::size_t>(n - put));
                if (w < 0 && errno == EINTR) continue;
                if (w < 0) failWrite(errno);
                put += w;
            }
            at += n;
        }
    }

    const AudioData& audio_;
    const int rate_;
    const ExportFormat format_;
    const double aim_;
    const int maxPasses_;
    const std::int64_t settle_;
    const std::int64_t settleLongest_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<CeilingPass>> passes_;
    std::int64_t correctedAfter_ = -1;
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
    // Other true-peak meters read a decoded file up to a few hundredths of a dB apart: the file
    // is brought a little under the ceiling.
    writeNamingFailures(
        target,
        [&](int fd) {
            CeilingPasses passes(audio, rate, format, ceilingDBTP - kCeilingMargin, maxPasses);
            peaks = passes.writeInto(fd);
        });
    return peaks;
}

}  // namespace tessoral::ExportPipeline
