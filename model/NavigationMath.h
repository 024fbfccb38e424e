#pragma once

#include <optional>
#include <vector>

#include "model/BeatGrid.h"
#include "model/Frames.h"
#include "model/TimeFormat.h"
#include "model/Uuid.h"

namespace tessoral {

// The timeline's horizontal geometry as last reported by the navigation views.
struct NavigationViewport {
    double baseWidth = 900.0;             // points of the whole timeline at zoom 1
    std::optional<double> pointerTime;    // time under the pointer; none when outside
    std::optional<double> pointerFraction;  // pointer position 0…1 of the visible width; none when outside
    friend bool operator==(const NavigationViewport&, const NavigationViewport&) = default;
};

// A request to the timeline views to scroll after a zoom change so that `time` appears
// at `fraction` of the visible width. Every request carries a fresh identifier.
struct ZoomFocus {
    double time = 0.0;
    double fraction = 0.0;
    Uuid id = Uuid::random();
    friend bool operator==(const ZoomFocus&, const ZoomFocus&) = default;
};

// One mark of the amplitude scale: its level and its height as a fraction of the half height.
struct AmplitudeMark {
    int db = 0;
    double fraction = 0.0;
    friend bool operator==(const AmplitudeMark&, const AmplitudeMark&) = default;
};

namespace NavigationMath {

// Seconds between ruler ticks so that labels lie at least `spacing` points apart on a
// timeline `width` points wide showing `duration` seconds.
double rulerStep(double duration, double width, TimeFormat format, const BeatGrid& grid, double spacing);

// The selection after moving the cursor from `cursor` to `to` with extension: the end
// at the cursor follows, the other end stays. None when the result is empty.
std::optional<TimeRange> extendSelection(const std::optional<TimeRange>& selection, double cursor, double to);

// The dB marks of the amplitude scale beside a waveform of half height `halfHeight`.
std::vector<AmplitudeMark> amplitudeMarks(double zoom, double halfHeight, double minimumGap);

}  // namespace NavigationMath

}  // namespace tessoral
