#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
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
// tells where the two chose different window shapes). A stream whose joins cannot all be placed
// so is encoded whole, on one thread. The stretches' length follows
// from the signal's alone, so the same samples always give the same file; a signal shorter than
// a stretch and a half is one encoding, exactly as AudioEncoder writes it.
class AacStretches {
public:
    // Fills `left` and `right` with the `frames` frames of the signal from frame `from`; called
    // from several threads at once.
    using Source = std::function<void(std::int64_t from, std::size_t frames, float* left, float* right)>;

    // Encodes the `frames` frames of `source` at `sampleRate` in `format` (one of the AAC
    // formats). Throws as AudioEncoder does. With `giveUpAbove` (a linear peak as peaks() reads
    // it) the encoding stops as soon as what a stretch decodes to passes it: gaveUp() then tells,
    // peaks() gives the peak that passed, and the encoding is no file.
    AacStretches(ExportFormat format, int sampleRate, std::int64_t frames, const Source& source,
                 float giveUpAbove = std::numeric_limits<float>::infinity());
    ~AacStretches();
    AacStretches(const AacStretches&) = delete;
    AacStretches& operator=(const AacStretches&) = delete;

    // The peak as a player reconstructs it (reconstruction_peak) and the sample peak (linear)
    // of what a player decodes from the file, measured in stretches side by side.
    struct Peaks {
        float truePeak = 0.0f;
        float samplePeak = 0.0f;
    };
    Peaks peaks() const;
    bool gaveUp() const;
    // Decodes the file from its start, as a player does (the encoder's priming left out, the end
    // where the file states it), and hands the signal to `sink` in order.
    void decode(const AudioEncoder::DecodedSink& sink) const;
    // Writes the file into `fd`, an empty file open for writing (see AudioEncoder).
    void writeInto(int fd) const;
    // How many encoders the stream came from.
    int stretches() const;
    // How many stretches a signal of `frames` frames at `sampleRate` is encoded in.
    static int count(int sampleRate, std::int64_t frames);
    // Where, in frames of the signal, each stretch after the first takes over.
    std::vector<std::int64_t> joins() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessoral
