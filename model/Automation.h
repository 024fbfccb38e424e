#pragma once

#include <cstddef>
#include <optional>

#include "model/AudioData.h"
#include "model/AutomationPoint.h"
#include "model/Frames.h"

// Evaluation, checks and rewrites of automation envelopes.
//
// An envelope is kept in non-decreasing time order; several points may share a time (a step).
// Its value at time t: the first point's value at or before the first point's time, the last
// point's value from the last point on, and in between the straight line (in the stored unit, so
// dB for the volume envelope) from the last point whose time is ≤ t to the point after it. Where
// several later points share a time, the value at exactly that time is the last of them.
namespace tessoral::Automation {

// A closed range of allowed values lower…upper.
struct ValueRange {
    double lower = 0.0;
    double upper = 0.0;
};

// The ranges the project reader accepts for the volume (dB) and pan envelopes.
inline constexpr ValueRange kVolumeRange{-60.0, 12.0};
inline constexpr ValueRange kPanRange{-1.0, 1.0};

// Writes the envelope's value at f/48000 s for every frame f of `frames`, the first at `out`
// (frames.count() floats). With `decibels` the value v is written as the gain 10^(v/20), without
// it the value itself (pan). An empty envelope writes 1.0. A frame at exactly the time of several
// points takes the last of them, also at the first point's time (so a step at the clip's start
// is heard from its first frame). Real-time safe: no allocation.
void fill(const Envelope& points, FrameRange frames, bool decibels, float* out);

// The envelope's value at `time`; nothing for an empty envelope.
std::optional<double> value(const Envelope& points, double time);

// At most 2000 points, finite times within 0…480 s in non-decreasing order, finite values
// within `range` (both ends included).
bool isValid(const Envelope& points, ValueRange range);

// Inserts `point` after every point at or before its time and returns its index; nothing is
// inserted (and nothing returned) when the envelope is full or the point is not finite.
std::optional<std::size_t> insert(AutomationPoint point, Envelope& points);

// The part of the envelope inside lo…hi, rebased so that lo becomes 0, with interpolated points
// at 0 and hi − lo standing in for the envelope beyond either end. A window whose lower end is
// not finite, or whose upper end is not a number, covers nothing; an upper end below the lower
// one is taken as the lower one.
Envelope cropped(const Envelope& points, TimeRange window);

// The envelope after the material between lo and hi (clip seconds) was replaced by `newLength`
// seconds of new material (0: deletion; lo = hi: insertion). The level at lo is held over an
// insertion; a deletion leaves a step from the value at lo to the value at hi. A range or length
// that is not finite, or a negative length, leaves the envelope unchanged; lo below 0 is taken
// as 0. A result that would exceed 2000 points gives up the points whose loss changes it least.
Envelope replacing(const Envelope& points, TimeRange replaced, double newLength);

}  // namespace tessoral::Automation
