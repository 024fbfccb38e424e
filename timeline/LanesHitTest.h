#pragma once

#include <QPointF>

#include <cstddef>
#include <optional>

#include "timeline/LanesSnapshot.h"

namespace tessoral {

// What lies under a point of the lanes, topmost first: a fade handle, a pan point (the last one on
// top), the pan line, a volume point, the volume line, the clip's full w × rowHeight, later clips
// over earlier ones; then the row; nothing below the last row.
struct LanesHit {
    enum class Kind { none, row, clip, volumeLine, volumePoint, panLine, panPoint, fadeIn, fadeOut };
    Kind kind = Kind::none;
    std::optional<std::size_t> row;
    const ClipItem* clip = nullptr;   // the clip hit (and its overlay element)
    std::size_t point = 0;            // the envelope point's index
    bool overlay() const { return kind != Kind::none && kind != Kind::row && kind != Kind::clip; }
    bool pan() const { return kind == Kind::panLine || kind == Kind::panPoint; }
};

// Pure: reads the snapshot only. Overlay elements take no pointer while the snapshot is locked.
LanesHit hitTest(const LanesSnapshot& snapshot, QPointF p);

}  // namespace tessoral
