#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

#include <functional>

namespace tessoral {
class StudioStore;
}

namespace tessoral::shots {

// Lets the offscreen window lay out and paint what was just changed.
void pump();

// Loads the demo project when the store holds no clips, and lets it settle; false when it still holds none.
bool withDemo(StudioStore& store, const std::function<void()>& settle);

// Writes `image` as "<name>-<lang>.png" in `folder` and reports the path on stderr.
bool save(const QImage& image, const QString& folder, const QString& name, const QString& lang);

// `top` drawn over `base` at `at` with a soft shadow and a hairline border; `dim` shades the base first.
QImage over(QImage base, const QImage& top, QPoint at, bool dim);

// `top` drawn over the dimmed `base`, centred near the top as a window-modal dialog appears.
QImage sheetOver(QImage base, const QImage& top);

}  // namespace tessoral::shots
