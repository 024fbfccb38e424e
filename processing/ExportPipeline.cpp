#include "processing/ExportPipeline.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <new>
#include <mutex>
#include <optional>
#include <set>
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

// The highest niceness an encoding's thread has run at, for tests.
std::atomic<int> highestNice{std::numeric_limits<int>::min()};
void noteNice() {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno != 0) return;
    for (int seen = highestNice.load(); nice > seen && !highestNice.compare_exchange_weak(seen, nice);) {}
}

// Cores handed to jobs, the most urgent waiting job first. A job asks for its core where it
// starts and may give it to a more urgent one where it pauses.
class Cores {
public:
    explicit Cores(int count) : count_(std::max(count, 1)), free_(count_) {}

    int count() const { return count_; }

    // Runs job(i) for every i below n, each on a core once no more urgent job (a lower `urgency`)
    // waits for one, on up to count() threads; all n wait from the call on, and `asked` is called
    // then. Once `cancelled`, the jobs run at once without a core (they then do nearly nothing).
    // Rethrows the first failure.
    void run(int urgency, const std::atomic<bool>& cancelled, std::size_t n, const std::function<void(std::size_t)>& job,
             const std::function<void()>& asked) {
        {
            std::lock_guard guard(mutex_);
            for (std::size_t i = 0; i < n; ++i) waiting_.insert(urgency);
        }
        asked();
        std::atomic<std::size_t> next{0};
        std::vector<std::exception_ptr> errors(n);
        auto work = [&] {
            noteNice();
            for (std::size_t i; (i = next.fetch_add(1)) < n;) {
                {
                    std::unique_lock lock(mutex_);
                    take(lock, urgency, cancelled);
                }
                try {
                    job(i);
                } catch (...) {
                    errors[i] = std::current_exception();
                }
                if (held_) {
                    std::lock_guard guard(mutex_);
                    give();
                }
            }
        };
        std::vector<std::thread> threads;
        try {
            for (std::size_t t = 1; t < std::min<std::size_t>(n, static_cast<std::size_t>(count_)); ++t) threads.emplace_back(work);
        } catch (const std::system_error&) {
            // Fewer threads: the jobs are shared among those there are.
        }
        work();
        for (auto& thread : threads) thread.join();
        for (auto& error : errors)
            if (error) std::rethrow_exception(error);
    }

    // On a job's thread: gives its core to a more urgent job waiting for one, and waits for it
    // back.
    void pause(int urgency, const std::atomic<bool>& cancelled) {
        std::unique_lock lock(mutex_);
        if (!held_ || waiting_.empty() || *waiting_.begin() >= urgency) return;
        give();
        waiting_.insert(urgency);
        take(lock, urgency, cancelled);
    }

    // Wakes the jobs waiting for a core, so that cancelled ones go.
    void wake() {
        std::lock_guard guard(mutex_);
        changed_.notify_all();
    }

private:
    // Waits for this thread's turn (its ticket in waiting_) and takes a core, or none once cancelled.
    void take(std::unique_lock<std::mutex>& lock, int urgency, const std::atomic<bool>& cancelled) {
        changed_.wait(lock, [&] { return cancelled || (free_ > 0 && *waiting_.begin() == urgency); });
        waiting_.erase(waiting_.find(urgency));
        held_ = !cancelled;
        free_ -= held_;
        changed_.notify_all();
    }
    void give() {
        held_ = false;
        ++free_;
        changed_.notify_all();
    }

    const int count_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int free_;
    std::multiset<int> waiting_;
    static thread_local bool held_;  // whether this thread holds a core
};

thread_local bool Cores::held_ = false;

std::atomic<bool> holdFirst{false};

// The stretches the first try encodes before the others, side by side: those of an AAC encoding
// of `audio` at `rate` (AacStretches::bounds) that peak within kHotRange of the highest, in order,
// where they are at most half of them (an encoder overshoots most where the signal is hottest):
// `hot`. Where more are, the signal is as hot throughout, as a limited mix is: where it peaks
// within kHotRange of `aim` (dBTP), an encoder overshoots it almost anywhere, and the first two go
// first (the first, with no lead-in, reaches its own soonest); else none do.
constexpr double kHotRange = 1.0;
struct FirstStretches {
    std::vector<int> stretches;
    bool hot = false;
};
FirstStretches firstHotStretches(const AudioData& audio, int rate, double aim) {
    const std::vector<std::int64_t> bounds = AacStretches::bounds(rate, audio.frames());
    const std::size_t n = bounds.size() - 1;
    std::vector<float> peaks(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto from = static_cast<std::size_t>(bounds[i]), length = static_cast<std::size_t>(bounds[i + 1] - bounds[i]);
        peaks[i] = std::max(vec::maxMagnitude(audio.left.data() + from, length), vec::maxMagnitude(audio.right.data() + from, length));
    }
    std::vector<int> hot;
    const float top = n > 0 ? *std::max_element(peaks.begin(), peaks.end()) : 0.0f;
    const auto range = static_cast<float>(std::pow(10.0, -kHotRange / 20.0));
    for (std::size_t i = 0; i < n; ++i)
        if (peaks[i] >= top * range) hot.push_back(static_cast<int>(i));
    if (2 * hot.size() <= n) return {std::move(hot), true};
    const bool nearAim = top >= static_cast<float>(std::pow(10.0, aim / 20.0)) * range;
    return {nearAim ? std::vector<int>{0, 1} : std::vector<int>{}};
}

// Encodings of one signal at plain gains, each in stretches (AacStretches) and measured on what
// decoding it gives; the file is the loudest that lands at or under the aim.
//
// This encoder's overshoot is not monotonic in gain: on dense material a gain may land where one
// a quarter dB under it goes a dB over, and on hard-clipped material its peak jumps by several dB
// between neighbouring steps, so a gain far above the one that would bring the signal's own
// overshoot to the aim may land. So every step of kStep is tried from the top down: the signal
// as it is first (the file when it lands), then each step down from kStep under it; the first
// that lands is the file. The last try allowed goes kBelow under the gain that would bring the
// signal's own overshoot to the aim (or the walk's next step, when lower), and runs whole: it is
// the file when nothing lands. The others are given up as soon as a stretch passes the aim, which
// makes a step that goes over cheap on material that overshoots throughout; where the first was
// given up, the signal is encoded whole once more, for its overshoot, once the last try is due.
//
// A try that goes over costs about the stretch where it does: each try after the first encodes
// first the stretches where earlier tries went over, the most recent first and alone (where the
// peak that passed the aim is most likely to pass it again), and only once they all stay under the
// aim the others (first, where tries have gone over elsewhere since it started: those); an
// encoding that goes over anywhere goes over whatever its stretches' order, so that order changes
// only the cost.
//
// The first try encodes the stretches where it is likely to go over side by side before the
// others, so that on many cores it does not encode the whole signal before it goes over there
// (firstHotStretches).
//
// The first try, given up, encodes on the stretch where it went over for its peak: a lower bound
// of the signal's overshoot, from which the step likely to land first follows (the overshoot is
// close to linear in a plain gain). Where it started with stretches clearly hotter than the rest,
// it encodes on those too, for where it went over most: later tries encode those first after where
// tries after it went over. (On a signal as hot throughout, the two it started with are no more
// likely to go over than the others, and only where it went over first leads.) The steps from the
// top down to the likely one start side by side, as cores allow, each encoding only the stretches
// where tries went over until every step before it is known to pass the aim: most of them go over
// there, each at the cost of a stretch.
//
// Which gains are tried and which is the file follow from what the encodings measure alone, and
// the steps down do not depend on the signal's own overshoot: every encoding started is one of
// the tries, and the file is decided only once every try before it has ended. The cores and the
// timing decide only how many run at once and which stretches each encodes first. A try starts
// while earlier ones still run only once each of them is known to pass the aim somewhere or still
// encodes the stretches it started with (so a file that lands at once is one encoding, however
// many cores there are), and goes on past those stretches only once every earlier try is known to
// pass the aim, or all but one that still encodes alone a stretch where a try before it went over
// and comes before the step likely to land (mayWiden): a try encodes ahead only where it is the
// file unless it goes over, or on cores the one before it leaves idle while that one is likely to
// go over, and then needlessly once at most. Beside a try that stayed under the aim in those
// stretches, one more at most starts, however many cores there are: a landing makes whatever the
// others encoded needless. Every try runs at the program's own priority (any of them may become
// the file), and the jobs of a later try get cores after the earlier tries' and give theirs up
// where an earlier one waits. Those not needed are dropped.
class CeilingSearch {
public:
    CeilingSearch(const AudioData& audio, int rate, ExportFormat format, double aim, int maxPasses)
        : audio_(audio), rate_(rate), format_(format), aim_(aim), maxPasses_(std::max(maxPasses, 1)), cores_(AacStretches::threads()),
          firstHot_(maxPasses_ > 1 ? firstHotStretches(audio, rate, aim) : FirstStretches{}) {}

    ~CeilingSearch() { stopAll(); }

    struct Pass {
        double gainDB = 0.0;
        bool whole = false;       // run to its end whatever it measures
        bool probe = false;       // no try: the signal as it is, for its overshoot
        int urgency = 0;          // its place in the order of tries when it started
        std::atomic<bool> cancelled{false};
        std::thread thread;
        // Set under the search's lock: once its first jobs wait for cores, and once it ends.
        bool asked = false;
        bool done = false;
        bool passed = false;      // known to pass the aim somewhere, while it still runs
        bool leading = false;     // encoding stretches where tries before it went over, first
        std::vector<int> led;     // those it was given so far
        bool waiting = false;     // they stayed under the aim: waiting to go on to the others
        std::atomic<std::int64_t> frames{0};  // of the signal its encoders were given
        bool over = false;        // passed the aim (or was given up)
        double peakDB = 0.0;      // the true peak, where not given up
        std::exception_ptr failure;
        std::unique_ptr<AacStretches> encoding;
        // What a player decodes from it, measured whole, beside the file being written.
        std::future<WrittenPeaks> measured;
    };

    // The chosen encoding, its measurement under way; passes() tells how many were tried.
    Pass& run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            std::optional<int> chosen;
            try {
                // Filed first, so that the decision rests on the tries as planned.
                start();
                chosen = decided();
            } catch (...) {
                lock.unlock();
                stopAll();
                throw;
            }
            if (chosen) {
                passes_ = *chosen + 1;
                Pass& pass = *tries_[static_cast<std::size_t>(*chosen)];
                lock.unlock();
                stopAll(&pass);
                measure(pass);
                return pass;
            }
            ended_.wait(lock);
        }
    }

    int passes() const { return passes_; }

    // Every try started, in order (after run(): none still runs but the file).
    std::vector<TriedEncoding> tried(const Pass& file) const {
        std::vector<std::pair<int, TriedEncoding>> all;
        for (std::size_t k = 0; k < started_.size(); ++k)
            if (const Pass& pass = *started_[k]; !pass.probe)
                all.push_back({pass.urgency, {pass.gainDB, pass.done && pass.over, pass.frames.load(), &pass == &file, static_cast<int>(k)}});
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<TriedEncoding> out;
        for (const auto& [urgency, tried] : all) out.push_back(tried);
        return out;
    }

private:
    // The step between the gains tried, dB; how far under the gain that would bring the signal's
    // own overshoot to the aim the last one goes.
    static constexpr double kStep = 0.25;
    static constexpr double kBelow = 1.5;
    // How many tries that stayed under the aim where earlier ones went over run at once.
    static constexpr int kOpenTries = 2;

    struct Try {
        double gainDB;
        bool whole;
    };

    // The i-th gain to try, given the signal's own overshoot `over` (dB; none while unknown); none
    // past the passes allowed, and for the last one while the overshoot is unknown.
    std::optional<Try> planned(int i, std::optional<double> over) const {
        if (i >= maxPasses_) return std::nullopt;
        if (i == 0) return Try{0.0, maxPasses_ == 1};
        const double gain = -kStep * i;
        if (i + 1 < maxPasses_) return Try{gain, false};
        if (!over) return std::nullopt;
        return Try{std::min(gain, -*over - kBelow), true};
    }

    // The signal's own overshoot once known: from an encoding of it as it is that ran whole.
    std::optional<double> overshoot() const {
        for (const auto& pass : started_)
            if (pass->done && !pass->failure && pass->gainDB == 0.0 && pass->peakDB < HUGE_VAL) return pass->peakDB - aim_;
        return std::nullopt;
    }

    // The try that decides: the first (in order) that landed, all before it having gone over; the
    // last allowed when none landed; none while undecided. Rethrows the failure of one that counts.
    std::optional<int> decided() const {
        for (int i = 0; i < maxPasses_; ++i) {
            if (static_cast<std::size_t>(i) >= tries_.size() || !tries_[i] || !tries_[i]->done) return std::nullopt;
            if (tries_[i]->failure) std::rethrow_exception(tries_[i]->failure);
            if (!tries_[i]->over) return i;
        }
        return maxPasses_ - 1;
    }

    // Files the encodings started under the tries they stand for, drops those no try needs, and
    // starts the next ones while fewer run than there are cores.
    void start() {
        const std::optional<double> over = overshoot();
        const auto stands = [&](const Pass& pass, const Try& wanted) {
            return pass.whole == wanted.whole && std::fabs(pass.gainDB - wanted.gainDB) < 1e-9;
        };
        std::vector<Pass*> kept(static_cast<std::size_t>(maxPasses_), nullptr);
        for (const auto& pass : started_) {
            if (pass->cancelled) continue;
            if (pass->probe) {
                if (pass->failure) std::rethrow_exception(pass->failure);
                if (over && !pass->done) pass->cancelled = true;
                continue;
            }
            bool needed = false;
            for (int i = 0; i < maxPasses_ && !needed; ++i)
                if (const auto wanted = planned(i, over); wanted && !kept[i] && stands(*pass, *wanted)) kept[i] = pass.get(), needed = true;
            if (!needed) pass->cancelled = true;
        }
        // Nothing after a try that landed can be the file.
        for (int i = 0, landed = maxPasses_; i < maxPasses_; ++i) {
            if (i > landed && kept[i]) kept[i]->cancelled = true, kept[i] = nullptr;
            if (kept[i] && kept[i]->done && !kept[i]->over) landed = std::min(landed, i);
        }
        cores_.wake();
        ended_.notify_all();
        tries_ = kept;
        // One at a time, once every other one running waits for cores: their jobs get cores in
        // the order of the tries.
        // Down to the step likely to land, as cores allow, once it is known.
        const std::optional<int> likely = likelyFile();
        int running = 0;
        int open = 0;  // of those, the tries that may still be the file (once the likely step is
                       // known, those past the stretches they started with)
        for (const auto& pass : started_) {
            if (pass->done || pass->cancelled) continue;
            if (!pass->asked) return;
            ++running;
            open += !pass->probe && !knownOver(pass.get()) && (!likely || !pass->leading || pass->waiting);
        }
        // Beside a try that may still land, one more at most: more cores than that would only
        // encode ahead what a landing makes needless.
        if (open >= kOpenTries) return;
        for (int i = 0; i < maxPasses_ && running < cores_.count() && (!likely || i <= *likely); ++i) {
            if (tries_[i]) {
                // Nothing after one that landed is needed, and nothing after one that may still
                // land over the whole signal is started ahead: a file that lands at once is one
                // encoding on every core.
                if (tries_[i]->done ? !tries_[i]->over : !tries_[i]->passed && (!tries_[i]->leading || tries_[i]->waiting)) break;
                continue;
            }
            const std::optional<Try> wanted = planned(i, over);
            if (!wanted) {
                // The last try waits for the signal's own overshoot, where the first did not run whole.
                const bool probing = std::any_of(started_.begin(), started_.end(), [](const auto& pass) { return pass->probe; });
                if (i + 1 == maxPasses_ && !over && !probing) launch(Try{0.0, true}, i, true);
                break;
            }
            tries_[i] = launch(*wanted, i);
            return;
        }
    }

    Pass* launch(const Try& wanted, int urgency, bool probe = false) {
        auto pass = std::make_unique<Pass>();
        pass->gainDB = wanted.gainDB;
        pass->whole = wanted.whole;
        pass->urgency = urgency;
        pass->probe = probe;
        Pass& p = *pass;
        std::vector<int> first = wanted.whole ? std::vector<int>{} : leads();
        p.leading = !first.empty();
        p.led = first;
        started_.push_back(std::move(pass));
        p.thread = std::thread([this, &p, first = std::move(first)] { encode(p, first); });
        return &p;
    }

    // Known to pass the aim (while it runs: where it is given up at that).
    static bool knownOver(const Pass* pass) { return pass && (pass->done ? pass->over : pass->passed && !pass->whole); }

    // The step likely to land first, once the first try's overshoot is known: the first at or
    // under the gain that brings it to the aim not known to pass the aim. None before, and none
    // that would be the last try (that one waits for the signal's own overshoot): then the steps
    // start one by one.
    std::optional<int> likelyFile() const {
        if (!firstOver_ || maxPasses_ < 3 || tries_.size() < static_cast<std::size_t>(maxPasses_)) return std::nullopt;
        int i = std::clamp(static_cast<int>(std::ceil(*firstOver_ / kStep - 1e-6)), 1, maxPasses_ - 2);
        while (i < maxPasses_ - 1 && knownOver(tries_[i])) ++i;
        if (i >= maxPasses_ - 1) return std::nullopt;
        return i;
    }

    // Whether the pass may go on past the stretches it started with: every earlier try is known
    // to pass the aim, but for one at most that still encodes first where a try before it went
    // over (where it most likely goes over too) and comes before the step likely to land. So a
    // try works ahead on the cores an earlier one leaves idle while that one encodes such a
    // stretch alone, and only once is it needless; never beside the step likely to land, nor
    // before that step is known: the try beside it would be needless but where the likely one
    // goes over after all.
    bool mayWiden(const Pass& pass) const {
        const std::optional<int> likely = likelyFile();
        int leading = 0;
        for (int i = 0; i < pass.urgency; ++i)
            if (!knownOver(tries_[i]) && (!tries_[i] || !tries_[i]->leading || tries_[i]->waiting || !likely || i >= *likely || ++leading > 1))
                return false;
        return true;
    }

    // The stretches a try leads with: where tries went over, the latest first, then where only
    // the first did.
    std::vector<int> leads() const {
        std::vector<int> out = overAt_;
        for (const int stretch : firstOverAt_)
            if (std::find(out.begin(), out.end(), stretch) == out.end()) out.push_back(stretch);
        return out;
    }

    // Encodes the signal at the pass's gain, and tells the search when it ends.
    void encode(Pass& pass, std::vector<int> first) {
        std::unique_ptr<AacStretches> encoding;
        double peakDB = HUGE_VAL;
        bool over = true;
        std::exception_ptr failure;
        try {
            const auto gain = static_cast<float>(std::pow(10.0, pass.gainDB / 20.0));
            const AudioData& audio = audio_;
            auto source = [&audio, gain, &pass](std::int64_t from, std::size_t frames, float* left, float* right) {
                pass.frames.fetch_add(static_cast<std::int64_t>(frames), std::memory_order_relaxed);
                const float* l = audio.left.data() + from;
                const float* r = audio.right.data() + from;
                for (std::size_t i = 0; i < frames; ++i) {
                    left[i] = clipSample(l[i] * gain);
                    right[i] = clipSample(r[i] * gain);
                }
            };
            AacStretches::Options options;
            options.watchAbove = static_cast<float>(std::pow(10.0, aim_ / 20.0));
            options.giveUp = !pass.whole;
            options.passed = [this, &pass](int stretch) {
                std::lock_guard lock(mutex_);
                pass.passed = true;
                if (pass.urgency == 0) {
                    if (std::find(firstOverAt_.begin(), firstOverAt_.end(), stretch) == firstOverAt_.end()) firstOverAt_.push_back(stretch);
                } else {
                    overAt_.erase(std::remove(overAt_.begin(), overAt_.end(), stretch), overAt_.end());
                    overAt_.insert(overAt_.begin(), stretch);
                }
                ended_.notify_all();
            };
            options.first = std::move(first);
            if (pass.urgency == 0) options.hot = firstHot_.stretches;
            options.finishPassed = pass.urgency == 0 && !pass.probe;
            options.finishHot = options.finishPassed && firstHot_.hot;
            options.widened = [this, &pass] {
                std::unique_lock lock(mutex_);
                pass.waiting = true;
                ended_.notify_all();
                ended_.wait(lock, [&] { return pass.cancelled || mayWiden(pass); });
                // Where tries have gone over since it started (an earlier one it waited for, say)
                // goes next.
                std::vector<int> next = leads();
                pass.leading = false;
                for (const int stretch : next)
                    if (std::find(pass.led.begin(), pass.led.end(), stretch) == pass.led.end()) {
                        pass.led.push_back(stretch);
                        pass.leading = true;
                    }
                pass.waiting = false;
                ended_.notify_all();
                return next;
            };
            options.cancelled = &pass.cancelled;
            options.runner = [this, &pass](std::size_t n, const std::function<void(std::size_t)>& job) {
                cores_.run(pass.urgency, pass.cancelled, n, job, [this, &pass] {
                    std::lock_guard lock(mutex_);
                    pass.asked = true;
                    ended_.notify_all();
                });
            };
            options.pause = [this, &pass] { cores_.pause(pass.urgency, pass.cancelled); };
            encoding = std::make_unique<AacStretches>(format_, rate_, audio_.frames(), source, std::move(options));
            if (!encoding->gaveUp()) {
                // The peak an encoding is held to the aim by: its true peak, as a player decodes it.
                peakDB = Loudness::decibels(encoding->peaks().truePeak);
                over = encoding->gaveUp() || peakDB > aim_;
            } else if (pass.urgency == 0 && !pass.probe) {
                const double seen = Loudness::decibels(encoding->peaks().truePeak) - aim_;
                std::lock_guard lock(mutex_);
                if (seen > 0.0 && std::isfinite(seen)) firstOver_ = seen;
                if (firstHot_.hot) firstOverAt_ = encoding->passedHottestFirst();
            }
        } catch (...) {
            failure = std::current_exception();
        }
        std::unique_lock lock(mutex_);
        if (pass.urgency == 0 && holdFirst.load())
            ended_.wait(lock, [&] {
                return std::all_of(started_.begin(), started_.end(), [&](const auto& other) { return other.get() == &pass || other->done; });
            });
        pass.encoding = std::move(encoding);
        pass.peakDB = peakDB;
        pass.over = over;
        pass.failure = failure;
        pass.leading = false;
        pass.done = true;
        ended_.notify_all();
    }

    // Cancels every encoding but `keep` and waits for them all to end.
    void stopAll(const Pass* keep = nullptr) {
        {
            std::lock_guard lock(mutex_);
            for (const auto& pass : started_)
                if (pass.get() != keep) pass->cancelled = true;
            ended_.notify_all();
        }
        cores_.wake();
        for (const auto& pass : started_)
            if (pass->thread.joinable()) pass->thread.join();
    }

    void measure(Pass& pass) const {
        pass.measured = std::async(std::launch::async, [encoding = pass.encoding.get(), rate = rate_] {
            DecodedMeter meter(rate);
            encoding->decode([&](const float* l, const float* r, std::size_t n) { meter.add(l, r, n); });
            return meter.finish();
        });
    }

    const AudioData& audio_;
    const int rate_;
    const ExportFormat format_;
    const double aim_;
    const int maxPasses_;
    Cores cores_;
    const FirstStretches firstHot_;  // what the first try encodes first (firstHotStretches)
    std::mutex mutex_;
    std::condition_variable ended_;
    std::vector<std::unique_ptr<Pass>> started_;
    std::vector<Pass*> tries_;  // the encoding that stands for each try, where started
    std::vector<int> overAt_;   // the stretches where tries after the first went over, the latest first
    // Where the first went over: as it did, then (once it ended) where it went over most first.
    std::vector<int> firstOverAt_;
    std::optional<double> firstOver_;  // how far the first try is known to pass the aim (dB)
    int passes_ = 0;
};

}  // namespace

namespace {
std::mutex triedMutex;
std::vector<TriedEncoding> lastTried;
}  // namespace

void holdFirstEncodingForTesting(bool hold) { holdFirst.store(hold); }

std::vector<TriedEncoding> lastTriesForTesting() {
    std::lock_guard lock(triedMutex);
    return lastTried;
}

int highestEncodingNiceForTesting() { return highestNice.exchange(std::numeric_limits<int>::min()); }

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
        {
            std::lock_guard lock(triedMutex);
            lastTried = search.tried(chosen);
        }
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
