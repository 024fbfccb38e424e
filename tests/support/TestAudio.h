#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "model/AudioData.h"
#include "model/SplitMix64.h"
#include "model/Track.h"

namespace tessoral::test {

// The fixed-seed generator of test signals is the program's own.
using tessoral::SplitMix64;

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Stereo audio of `frames` frames holding `value` in both channels.
AudioData constant(std::int64_t frames, float value = 0.25f);
// Fixed-seed white noise at the given peak amplitude, independent per channel.
AudioData noise(std::int64_t frames, float amplitude, std::uint64_t seed = 1);
// A mix of sharp hits: quiet noise and two low tones with a full-scale, quickly decaying hit every
// 100 ms. Brought to a loudness target its hits meet the ceiling, and a lossy encoder overshoots
// the peaks it is given.
AudioData loudHits(std::int64_t frames);
// A clip made as import makes it.
Track clip(const std::string& name, std::int64_t frames, double start = 0.0);
// The message of the StudioError that `f` throws; "" when it returns normally.
std::string errorMessage(const std::function<void()>& f);

}  // namespace tessoral::test
