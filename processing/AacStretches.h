#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "model/ExportFormat.h"
#include "processing/AudioEncoder.h"

namespace tessoral {

// An AAC file encoded in stretches side by side, one encoder each, and joined into one stream.
//
// An AAC frame decodes from its own packet and the one before it (their transforms overlap), and
// an encoder's further state (its bit reserve, its window and level history, its bit allocation)
// settles within several seconds of what it is given. So each stretch's encoder starts ten
// seconds before its stretch and runs a few seconds past its end. A fresh encoder may still code a
// transient it meets near its start far worse than one that has run for a minute, so where two
// stretches meet, the join is held to the earlier encoder: it goes on the first frame (within
// two seconds of the later stretch's start) where the joined stream, a third of a second either
// side, errs from the signal little more than the earlier encoder's own stream does (which also
// tells where the two chose different window shapes). Where a join cannot be placed so, the
// earlier encoder goes on through the later stretch, as one encoder over both would, and the
// join after them is sought again. The stretches' length follows
// from the signal's alone, so the same samples always give the same file; a signal shorter than
// a stretch and a half is one encoding, exactly as AudioEncoder writes it.
class AacStretches {
public:
    // Fills `left` and `right` with the `frames` frames of the signal from frame `from`; called
    // from several threads at once.
    using Source = std::function<void(std::int64_t from, std::size_t frames, float* left, float* right)>;
    // Runs job(i) for every i below `jobs` (a stretch's encoder, a join, a stretch's measurement
    // each) side by side as it sees fit, and returns when all have ended; rethrows the first
    // failure. By default they run on up to threads() threads.
    using Runner = std::function<void(std::size_t jobs, const std::function<void(std::size_t)>& job)>;

    struct Options {
        // A linear peak as peaks() reads it, watched on what each stretch's own encoder decodes
        // to over its stretch (past the frames where the join before it may stand) as it comes:
        // as soon as one passes it, `passed` is called once with that stretch's index, on the
        // thread that encodes, and with `giveUp` the encoding stops: gaveUp() then tells, peaks()
        // gives the peak that passed, and the encoding is no file.
        float watchAbove = std::numeric_limits<float>::infinity();
        bool giveUp = false;
        std::function<void(int stretch)> passed;
        // With `giveUp`, stretches (indices as `passed` tells them) encoded before the others,
        // where the watch is likely to pass soonest: the first of them alone, then the rest side
        // by side. Once they all stay under the watch, `widened` is called before the others
        // start; it may hold the encoding there (until `cancelled`, say), and gives the stretches
        // where the watch has since become likely to pass: those not yet encoded go first in the
        // same way, and `widened` is called again. Which stretches go first changes what the
        // encoding costs, never what it gives.
        std::vector<int> first;
        std::function<std::vector<int>()> widened;
        // With `giveUp`, stretches encoded side by side once those are done and before the
        // others: where the watch is likely to pass, though no encoding has passed it yet.
        std::vector<int> hot;
        // With `giveUp`, the stretch that passes first is encoded on to its end, so that peaks()
        // gives the peak of its own stream there: a lower bound of how far the signal
        // overshoots; the others stop.
        bool finishPassed = false;
        // With `finishPassed`, so are those of `hot` that have started, so that
        // passedHottestFirst() tells where it passes most, and `passed` is told of each stretch
        // where the watch passes (else of the first only).
        bool finishHot = false;
        Runner runner;
        // Called between stretches of a second or so of a stretch's encoding, on the thread that
        // encodes it: may hold it there while more urgent work runs.
        std::function<void()> pause;
        // Once set, the encoding stops as soon as it can (it is given up) and is no file.
        const std::atomic<bool>* cancelled = nullptr;
    };

    // Encodes the `frames` frames of `source` at `sampleRate` in `format` (one of the AAC
    // formats). Throws as AudioEncoder does.
    AacStretches(ExportFormat format, int sampleRate, std::int64_t frames, const Source& source, Options options);
    AacStretches(ExportFormat format, int sampleRate, std::int64_t frames, const Source& source);
    ~AacStretches();
    AacStretches(const AacStretches&) = delete;
    AacStretches& operator=(const AacStretches&) = delete;

    // The peak as a player reconstructs it (reconstruction_peak) and the sample peak (linear)
    // of what a player decodes from the file, measured in stretches side by side; where given
    // up, the highest the watch saw.
    struct Peaks {
        float truePeak = 0.0f;
        float samplePeak = 0.0f;
    };
    Peaks peaks() const;
    bool gaveUp() const;
    // The stretches where the watch passed, the highest peak it saw first.
    std::vector<int> passedHottestFirst() const;
    // Decodes the file from its start, as a player does (the encoder's priming left out, the end
    // where the file states it), and hands the signal to `sink` in order.
    void decode(const AudioEncoder::DecodedSink& sink) const;
    // Writes the file into `fd`, an empty file open for writing (see AudioEncoder).
    void writeInto(int fd) const;
    // How many encoders the stream came from.
    int stretches() const;
    // How many stretches a signal of `frames` frames at `sampleRate` is encoded in.
    static int count(int sampleRate, std::int64_t frames);
    // Where each of those stretches starts, in frames of the signal, and the signal's end last.
    static std::vector<std::int64_t> bounds(int sampleRate, std::int64_t frames);
    // Where, in frames of the signal, each stretch after the first takes over.
    std::vector<std::int64_t> joins() const;

    // The join rule, on the error energy of each frame around the later stretch's start: `own`
    // the earlier encoder's from kJoinWindow frames before it, `later` the later encoder's from
    // it; `joinFrame(k)` the error of the frame k frames after the start decoded from the earlier
    // encoder's packets before it and the later one's own (none where it cannot be decoded so).
    // The first k whose window of kJoinWindow frames either side errs at most kJoinTolerance
    // times the earlier encoder's own; else the one that comes closest, when within twice; else
    // none (the earlier encoder then goes on through the later stretch).
    static constexpr std::int64_t kJoinWindow = 15;
    static constexpr double kJoinTolerance = 1.25;
    static std::optional<std::size_t> chooseJoin(std::span<const double> own, std::span<const double> later,
                                                 const std::function<std::optional<double>(std::size_t k)>& joinFrame);

    // How many threads encode stretches at once by default: the CPUs this process may run on
    // (its affinity mask), or the number set. The file never depends on it.
    static int threads();
    // Sets that number for tests and benchmarks; 0 gives the process's own count back.
    static void setThreads(int threads);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessoral
