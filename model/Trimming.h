#pragma once

#include <cstdint>

#include "model/AutomationPoint.h"
#include "model/Frames.h"
#include "model/Track.h"
#include "model/Uuid.h"

namespace tessoral {

// The state of one running edge drag. The clip is untouched until the drag ends.
struct TrimDrag {
    Uuid id;                    // the clip
    ClipEdge edge = ClipEdge::start;
    TimeRange original;         // the clip's span when the drag began
    std::int64_t frames = 0;    // current delta, clamped to the trim limits
    TimeRange span;             // the span after trimming by `frames`
    friend bool operator==(const TrimDrag&, const TrimDrag&) = default;
};

namespace Automation {
// Lays an edited clip envelope (`current`, clip time) back over the untrimmed envelope `stored`
// whose clip part is `window` (seconds of untrimmed time): the handle parts of `stored` are kept,
// joined to `current` at the window edges.
Envelope restored(const Envelope& current, const Envelope& stored, TimeRange window);
}  // namespace Automation

}  // namespace tessoral
