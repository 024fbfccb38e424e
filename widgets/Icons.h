#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace tessoral::Icons {

// Whether the program ships an icon of that name (resources/icons/<name>.svg).
bool exists(const QString& name);

// The single-colour icon `name` drawn in `color`, `size` logical pixels square, for the device
// pixel ratio given. Cached by name, colour, size and ratio. An unknown name gives a null pixmap.
QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio = 1.0);

// A QIcon of the tinted icon (normal and disabled modes), for buttons and menus, `size` logical
// pixels square at most, drawn from its SVG at the device pixel ratio of wherever it is shown.
QIcon icon(const QString& name, const QColor& color, int size = 16);

}  // namespace tessoral::Icons
