#pragma once

#include <QList>

class QWidget;

namespace tessoral::ReadingOrder {

// The controls inside `root` that Tab stops at, in reading order: the window's regions as they
// stand on the screen, side by side from left to right and rows from the top, and inside each
// region its own parts the same way, one part whole before the next. Only visible, enabled
// controls that take the focus with Tab count.
QList<QWidget*> stops(QWidget* root);

// Moves the focus to the next (or previous) stop inside `root` after the focused control (or,
// where that is no stop, after `last`, the control that held the focus last, wherever it stood:
// a control hidden or disabled keeps its place), wrapping at the ends, and scrolls the stop into
// view in any scroll area around it. False when `root` has no stop.
bool step(QWidget* root, bool forward, QWidget* last = nullptr);

}  // namespace tessoral::ReadingOrder
