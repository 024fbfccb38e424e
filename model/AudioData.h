#pragma once

#include <cstdint>
#include <vector>

#include "model/SharedArray.h"

namespace tessoral {

// One column of a clip's waveform drawing: the smallest and largest sample of the bin.
struct EnvelopeBin {
    float low = 0.0f;
    float high = 0.0f;
    friend bool operator==(const EnvelopeBin&, const EnvelopeBin&) = default;
};

// A half-open frame range lower..<upper.
struct FrameRange {
    std::int64_t lower = 0;
    std::int64_t upper = 0;
    std::int64_t count() const { return upper - lower; }
    bool empty() const { return upper <= lower; }
    friend bool operator==(const FrameRange&, const FrameRange&) = default;
};

// Stereo 32-bit float audio at 48 kHz. Both channels always hold the same number of
// frames; the samples are shared between copies until one copy writes.
struct AudioData {
    SharedArray<float> left;
    SharedArray<float> right;

    AudioData() = default;
    // The two channels must be of equal length; the shorter one is padded with silence.
    AudioData(std::vector<float> leftSamples, std::vector<float> rightSamples);
    AudioData(SharedArray<float> leftSamples, SharedArray<float> rightSamples);
    // Mono material: the one channel is used for both (sharing its storage).
    static AudioData mono(std::vector<float> samples);
    static AudioData silence(std::int64_t frames);

    std::int64_t frames() const { return static_cast<std::int64_t>(left.size()); }
    bool empty() const { return left.empty(); }
    // 8 bytes per stereo frame.
    std::int64_t bytes() const { return frames() * 8; }

    // The frames lower..<upper of both channels; the whole range shares the storage.
    // The range is clamped into 0…frames().
    AudioData slice(FrameRange range) const;

    // Waveform overview: the larger channel magnitude per chunk of ceil(n / bins) frames.
    std::vector<float> peaks(int bins) const;
    // Drawing envelope of one channel: signed minimum and maximum per chunk.
    std::vector<EnvelopeBin> envelope(bool rightChannel, int bins) const;

    friend bool operator==(const AudioData&, const AudioData&) = default;
};

}  // namespace tessoral
