#pragma once

#include <QFont>

namespace tessoral::Fonts {

// Proportional text (Inter; DejaVu Sans, then Noto Sans, where it is missing) at a size in logical pixels.
QFont ui(int pixelSize, QFont::Weight weight = QFont::Normal);
// Monospaced digits (DejaVu Sans Mono) at a size in logical pixels.
QFont mono(int pixelSize, QFont::Weight weight = QFont::Normal);

}  // namespace tessoral::Fonts
