#pragma once

#include <cstdint>

#include "model/Frames.h"

namespace tessoral::limits {

// Longest project and clip: 480 s (the messages call it 8 minutes).
inline constexpr double kMaxSeconds = 480.0;
inline constexpr std::int64_t kMaxFrames = 23'040'000;
// Decoded audio in a project, as counted by Session::bytes().
inline constexpr std::int64_t kMaxBytes = 402'653'184;  // 384 MiB
inline constexpr int kMaxClips = 256;
inline constexpr int kMaxLanes = 32;
inline constexpr int kMaxMarkers = 1000;
inline constexpr int kMaxRackSlots = 8;
inline constexpr int kMaxAutomationPoints = 2000;
// Drawing caches of a clip.
inline constexpr int kPeakBins = 1800;
inline constexpr int kEnvelopeBins = 2400;
// Colours of the track palette.
inline constexpr int kPaletteSize = 8;

static_assert(kMaxFrames == static_cast<std::int64_t>(kMaxSeconds) * kSampleRate);

}  // namespace tessoral::limits

namespace tessoral {
// A stored colour index taken into the palette: any integer maps to 0…7.
inline int paletteIndex(long long color) {
    const long long m = color % limits::kPaletteSize;
    return static_cast<int>(m < 0 ? m + limits::kPaletteSize : m);
}
}  // namespace tessoral
