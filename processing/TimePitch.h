#pragma once

#include <cstdint>
#include <optional>

#include "model/AudioData.h"

namespace tessoral::AudioIO {

// Longest time/pitch result, in frames (480 s).
inline constexpr std::int64_t kTimePitchFrameLimit = 23'040'000;
// Frames rendered beyond the expected length before the result is trimmed.
inline constexpr std::int64_t kTimePitchTail = 24'000;

// The clip played `rate` times as fast (0.5 … 2; 1 when not finite) and shifted by `semitones`
// (−12 … +12; 0 when not finite), rendered offline by Rubber Band. The result has
// round(N / rate) frames, halves away from zero. Throws StudioError when that length is not in
// 1 … 23,040,000 frames (also for an empty clip) and for the failures of the offline render loop.
AudioData timePitch(const AudioData& audio, double rate, double semitones);

namespace detail {
// Cuts the rendered output (the expected length plus the tail) to the result: frames o … o + E − 1
// with o = min(max(count − E, 0), D). D is the processor's reported delay in frames; a processor
// that reports none (nullopt) is taken to start at its first frame above 0.0001 within the first
// 6000 frames (0 when there is none).
AudioData trimRendered(const AudioData& rendered, std::int64_t expected, std::optional<std::int64_t> latency);
}  // namespace detail

}  // namespace tessoral::AudioIO
