#pragma once

#include <QPixmap>
#include <QPointF>
#include <QPolygonF>
#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "timeline/LanesSnapshot.h"

class QPainter;

namespace tessoral {

// Spectrogram images as pixmaps: the store's pixels wrapped without a copy, scaled once to the
// clip body's size and kept until the image or the size changes.
class SpectrogramPixmaps {
public:
    // The pixmap for the body of `size`; when the body is wider than kMaxCachedWidth the pixmap is
    // the image at its own size (`scaled` false) and the painter draws just the exposed part.
    struct Found {
        const QPixmap* pixmap = nullptr;
        bool scaled = false;
    };
    Found find(const Uuid& clip, const SpectrogramImage& image, QSize size);
    // Forgets the clips that no snapshot shows any more.
    void keepOnly(const LanesSnapshot& snapshot);
    std::size_t size() const { return entries_.size(); }
    static constexpr int kMaxCachedWidth = 8192;

private:
    struct Entry {
        const std::uint8_t* pixels = nullptr;
        QSize size;
        bool scaled = false;
        QPixmap pixmap;
    };
    std::unordered_map<Uuid, Entry> entries_;
};

// The floating value label of an envelope or fade gesture (lanes coordinates of the point it
// refers to).
struct LanesLabel {
    QString text;
    QPointF at;
    double rowTop = 0.0;  // the label stays 10 points below its row's top
};

// Paints the lanes: row backgrounds, clips with their envelope and fade overlay, the trim
// preview, crossfades, the reorder highlight, marker lines, the time selection, the playhead and
// the gesture's label, each cut to `exposed`.
namespace LanesPainter {

void paint(QPainter& painter, const LanesSnapshot& snapshot, const QRect& exposed, double playhead,
           const std::optional<LanesLabel>& label = std::nullopt, SpectrogramPixmaps* spectrograms = nullptr);

// One automatic crossfade as drawn: the shaded overlap and the two fade curves (outgoing first),
// each with its clip's colour; a curve of 0.5 points or less is left out.
struct CrossfadeShape {
    QRectF band;
    struct Curve {
        QPolygonF points;  // segments = points − 1
        QColor color;
        bool incoming = false;
    };
    std::vector<Curve> curves;
};
std::vector<CrossfadeShape> crossfadeShapes(const LanesSnapshot& snapshot);

// A channel letter of the clip editor's two-channel waveform as drawn: a letter under the
// covering strip of the snapshot is left out.
struct ChannelLetter {
    QString text;
    QPointF baseline;
    QRectF box;
};
std::vector<ChannelLetter> channelLetters(const LanesSnapshot& snapshot, const ClipItem& item);
// Where the clip's name is drawn: from 9 points inside the clip's left edge to 7 inside its right,
// but starting after the fade-in and its handle, a crossfade, a channel letter or the covering
// strip that lies at its place, and ending before the next of these (the fade-out handle at the
// latest). Empty when nothing is left.
QRectF nameRect(const LanesSnapshot& snapshot, const ClipItem& item, const std::vector<CrossfadeShape>& crossfades);

// The playhead's x in lanes coordinates.
double playheadX(const LanesSnapshot& snapshot, double playhead);
// The 3-pixel strip a playhead at `x` paints into.
QRect playheadStrip(double x, int height);
// The label's rectangle (for repainting it).
QRect labelRect(const LanesLabel& label);

// Colours of the envelopes and markers.
QColor volumeColor();
QColor panColor();
QColor markerColor();

}  // namespace LanesPainter

}  // namespace tessoral
