#pragma once

#include <QImage>
#include <QRect>

#include <cstddef>
#include <optional>

#include "processing/SpectralMask.h"

class QPainter;
class QPainterPath;

namespace tessoral {

// The painted spectral mask over a clip's spectrogram: every region in order in the accent colour
// on one transparent layer (erase regions clear what earlier ones painted, never the spectrogram
// under the layer), the layer laid over the clip at opacity 0.42. Each shape keeps the frequency
// scale it was drawn in and is re-mapped when the other scale is shown.
namespace SpectralMaskOverlay {

inline constexpr double kOpacity = 0.42;
// Steps of a lasso edge drawn in the other scale, and the most steps of one outline edge of a
// brush stroke drawn in the other scale (4 per unit of normalised length below that; halves that
// stay within a quarter pixel of their chord are drawn straight). Such a stroke's centre line
// first drops the points that move it by less than a third of a pixel.
inline constexpr int kLassoSteps = 24;
inline constexpr int kMaxOutlineSteps = 256;

// Where the shapes land: x = (trackStart + t) / duration × width in the painter's coordinates,
// the frequency axis from `bottom` (lowest) up to `top` in the displayed `scale`.
struct Mapping {
    double trackStart = 0.0;
    double duration = 0.0;
    double width = 0.0;
    double top = 0.0;
    double bottom = 0.0;
    SpectralScale scale = SpectralScale::log;

    bool drawable() const;
    double band() const { return bottom - top; }
    double x(double t) const;
    double y(double hz) const;
    friend bool operator==(const Mapping&, const Mapping&) = default;
};

// Axis position of `hz` in `scale` (not clamped; NaN counts as 0) and the frequency at a position.
double position(double hz, SpectralScale scale);
double frequency(double position, SpectralScale scale);

// Paints one region's shape with `painter`'s current composition mode in the accent colour.
void drawShape(QPainter& painter, const SpectralMask::Shape& shape, const Mapping& m);

// The whole mask straight onto `painter`: regions into a layer covering `visible` (painter
// coordinates), the layer drawn at 0.42. Nothing unless the mapping is drawable.
void draw(const SpectralMask& mask, QPainter& painter, const Mapping& m, const QRect& visible);

// The lanes' entry: the mask over the clip body `body` (painter coordinates), the layer kept per
// paint device and cut to the part of the body the device shows, drawn where `exposed`.
void drawInBody(QPainter& painter, const SpectralMask& mask, const Mapping& m, const QRectF& body, const QRect& exposed);

}  // namespace SpectralMaskOverlay

// The mask layer of one clip body, kept between paints: it is redrawn only when the mask, the
// mapping or the visible part of the body changes, and while the user paints (only the last
// region grows) the finished regions' layer is kept and just the last region is drawn over a copy.
class SpectralMaskLayer {
public:
    // Draws the layer for `visible` (painter coordinates), cut to `exposed`.
    void draw(QPainter& painter, const SpectralMask& mask, const SpectralMaskOverlay::Mapping& m, const QRect& visible,
              const QRect& exposed);
    // The layer of the last draw (tests): premultiplied ARGB, `visible` at (0, 0).
    const QImage& image() const { return full_; }
    QRect rect() const { return rect_; }
    // Full rebuilds and last-region redraws so far (tests).
    std::size_t rebuilds() const { return rebuilds_; }
    std::size_t appends() const { return appends_; }
    void clear();

private:
    void render(QImage& image, const SpectralMask& mask, std::size_t from, std::size_t to) const;

    SpectralMaskOverlay::Mapping mapping_;
    QRect rect_;
    SpectralMask mask_;      // what full_ shows
    QImage base_;            // mask_.regions but the last
    QImage full_;            // all of mask_.regions
    bool valid_ = false;
    std::size_t rebuilds_ = 0;
    std::size_t appends_ = 0;
};

}  // namespace tessoral
