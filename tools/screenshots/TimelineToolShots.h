#pragma once

#include <QString>

#include <functional>

namespace tessoral {

class Studio;

// Screenshots for review of the timeline's tools over the demo project: a painted spectral mask
// (rectangle, brush strokes with an erasure, a lasso drawn in the other scale) shown in the log
// and the linear scale with the spectral toolbar and the repair panel ("spectral-mask-log",
// "spectral-mask-linear"), and the tempo popover open over the transport bar ("tempo-popover").
// `settle` runs the studio's pending work. False when a file could not be written.
bool renderTimelineToolShots(Studio& studio, const std::function<void()>& settle, const QString& folder,
                             const QString& lang);

}  // namespace tessoral
