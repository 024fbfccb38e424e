#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/AudioData.h"
#include "model/Track.h"

namespace tessoral::test {

// SplitMix64: the fixed-seed generator of test signals.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [-1, 1).
    double uniform();

private:
    std::uint64_t state_;
};

// Stereo audio of `frames` frames holding `value` in both channels.
AudioData constant(std::int64_t frames, float value = 0.25f);
// Fixed-seed white noise at the given peak amplitude, independent per channel.
AudioData noise(std::int64_t frames, float amplitude, std::uint64_t seed = 1);
// A clip made as import makes it.
Track clip(const std::string& name, std::int64_t frames, double start = 0.0);

}  // namespace tessoral::test
