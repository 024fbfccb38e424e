#include "app/shell/WindowPlacement.h"

#include <QRegion>

#include <algorithm>

namespace tessoral::WindowPlacement {

namespace {

// `frame` shrunk to `area` (not below `minimum`) and moved inside it; a frame larger than the
// area even at its minimum keeps its top left corner on the area.
QRect inside(QRect frame, QRect area, QSize minimum) {
    const QSize size(std::max(std::min(frame.width(), area.width()), minimum.width()),
                     std::max(std::min(frame.height(), area.height()), minimum.height()));
    const int x = std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    const int y = std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return {QPoint(x, y), size};
}

long long overlap(QRect a, QRect b) {
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : static_cast<long long>(common.width()) * common.height();
}

}  // namespace

QRect firstFrame(QSize preferred, const QList<QRect>& areas, QSize minimum) {
    if (areas.isEmpty() || areas.first().isEmpty()) return {QPoint(0, 0), preferred.expandedTo(minimum)};
    const QRect area = areas.first();
    if (preferred.width() <= area.width() && preferred.height() <= area.height()) {
        QRect frame(QPoint(0, 0), preferred.expandedTo(minimum));
        frame.moveCenter(area.center());
        return inside(frame, area, minimum);
    }
    return inside(area, area, minimum);
}

QRect keptFrame(QRect frame, const QList<QRect>& areas, QSize minimum) {
    if (areas.isEmpty()) return frame;
    // A frame across two screens side by side stays where it is, as long as no part of it is
    // off every screen.
    QRegion outside(frame);
    for (const QRect& area : areas) outside -= area;
    if (outside.isEmpty()) return frame;
    QRect best = areas.first();
    long long most = 0;
    for (const QRect& area : areas) {
        const long long common = overlap(frame, area);
        if (common > most) {
            most = common;
            best = area;
        }
    }
    return inside(frame, best, minimum);
}

}  // namespace tessoral::WindowPlacement
