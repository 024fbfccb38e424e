#pragma once

#include <QList>
#include <QRect>
#include <QSize>

namespace tessoral::WindowPlacement {

// Where a window's frame (the window with the desktop's title bar and borders) goes so that it
// lies on a screen. `areas` are the screens' available areas (without panels and docks), the
// first one the primary screen's; `minimum` is the smallest frame the window allows.
//
// The first opening: `preferred` centred on the first area when the area holds it, else the
// whole area (never below the minimum).
QRect firstFrame(QSize preferred, const QList<QRect>& areas, QSize minimum);

// A restored frame: kept as it is while it lies on the screens; otherwise it goes to the area
// it overlaps most (the first one when it overlaps none, as after a monitor was unplugged),
// shrunk to that area where it is larger (never below the minimum) and moved inside it.
QRect keptFrame(QRect frame, const QList<QRect>& areas, QSize minimum);

}  // namespace tessoral::WindowPlacement
