#include "timeline/SpectralMaskOverlay.h"

#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <utility>
#include <vector>

#include "widgets/Palette.h"

namespace tessoral {

namespace SpectralMaskOverlay {

bool Mapping::drawable() const {
    return duration > 0.0 && width > 0.0 && bottom > top && std::isfinite(duration) && std::isfinite(width) &&
           std::isfinite(top) && std::isfinite(bottom) && std::isfinite(trackStart);
}

double Mapping::x(double t) const { return (trackStart + t) / duration * width; }

double Mapping::y(double hz) const {
    const double p = std::clamp(position(hz, scale), 0.0, 1.0);
    return bottom - band() * p;
}

double position(double hz, SpectralScale scale) {
    double p = 0.0;
    if (scale == SpectralScale::linear)
        p = hz / SpectralAxis::kLinearTop;
    else
        p = std::log(std::max(hz, 1.0) / SpectralAxis::kLogBottom) / SpectralAxis::kLogSpan;
    return std::isnan(p) ? 0.0 : p;
}

double frequency(double position, SpectralScale scale) {
    if (scale == SpectralScale::linear) return std::max(position * SpectralAxis::kLinearTop, 0.0);
    return SpectralAxis::kLogBottom * std::pow(SpectralAxis::kLogRatio, position);
}

namespace {

QColor paint() { return Palette::accent(); }

void drawRectangle(QPainter& p, const SpectralMask::Rectangle& r, const Mapping& m) {
    const double x0 = m.x(r.time.lower);
    const double x1 = m.x(r.time.upper);
    const double pu = std::clamp(position(r.frequency.upper, m.scale), 0.0, 1.0);
    const double pl = std::clamp(position(r.frequency.lower, m.scale), 0.0, 1.0);
    QPainterPath path;
    path.addRect(QRectF(x0, m.y(r.frequency.upper), std::max(x1 - x0, 1.0), std::max(m.band() * (pu - pl), 1.0)));
    path.setFillRule(Qt::WindingFill);
    p.fillPath(path, paint());
}

void drawPolygon(QPainter& p, const SpectralMask::Polygon& poly, const Mapping& m) {
    const auto& pts = poly.points;
    const std::size_t n = pts.size();
    if (n == 0) return;
    const int k = poly.scale == m.scale ? 1 : kLassoSteps;
    QPainterPath path;
    path.moveTo(m.x(pts[0].time), m.y(pts[0].frequency));
    auto edge = [&](const SpectralPoint& a, const SpectralPoint& b) {
        if (k == 1) {
            path.lineTo(m.x(b.time), m.y(b.frequency));
            return;
        }
        const double pa = position(a.frequency, poly.scale);
        const double pb = position(b.frequency, poly.scale);
        for (int j = 1; j <= k; ++j) {
            const double u = double(j) / k;
            const double t = a.time + (b.time - a.time) * u;
            const double f = frequency(pa + (pb - pa) * u, poly.scale);
            path.lineTo(m.x(t), m.y(f));
        }
    };
    for (std::size_t i = 0; i + 1 < n; ++i) edge(pts[i], pts[i + 1]);
    if (n >= 3) {
        edge(pts[n - 1], pts[0]);
        path.closeSubpath();
        path.setFillRule(Qt::OddEvenFill);
        p.fillPath(path, paint());
    } else {
        p.strokePath(path, QPen(paint(), 1.5));
    }
}

void drawStrokeSameScale(QPainter& p, const SpectralMask::Stroke& s, const Mapping& m) {
    const double rx = s.radiusTime / m.duration * m.width;
    const double ry = m.band() * s.radiusPosition;
    const std::size_t n = s.points.size();
    if (!(rx > 0.0) || !(ry > 0.0) || n == 0 || !std::isfinite(rx) || !std::isfinite(ry)) return;
    if (n == 1) {
        QPainterPath dot;
        dot.addEllipse(QPointF(m.x(s.points[0].time), m.y(s.points[0].frequency)), rx, ry);
        p.fillPath(dot, paint());
        return;
    }
    QPainterPath path;
    path.moveTo(m.x(s.points[0].time) / rx, m.y(s.points[0].frequency) / ry);
    for (std::size_t i = 1; i < n; ++i) path.lineTo(m.x(s.points[i].time) / rx, m.y(s.points[i].frequency) / ry);
    QPen pen(paint(), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setMiterLimit(10.0);
    p.save();
    p.scale(rx, ry);
    p.strokePath(path, pen);
    p.restore();
}

// Stadiums of radius 1 around each segment in the stroke's normalised space (time / radiusTime,
// position / radiusPosition in its own scale), mapped point by point into the displayed scale.
void drawStrokeOtherScale(QPainter& p, const SpectralMask::Stroke& s, const Mapping& m, const QRectF& cull) {
    const double rT = s.radiusTime;
    const double rP = s.radiusPosition;
    const std::size_t n = s.points.size();
    if (!(rT > 0.0) || !(rP > 0.0) || n == 0 || !std::isfinite(rT) || !std::isfinite(rP)) return;
    auto screen = [&](double xn, double yn) { return QPointF(m.x(xn * rT), m.y(frequency(yn * rP, s.scale))); };
    // The centre line in normalised space, simplified where leaving points out moves it by less
    // than a third of a pixel on screen (a pointer drag gives a point every pixel or two; the
    // stadiums of the points left out lie inside those of the line kept).
    std::vector<QPointF> all(n);
    for (std::size_t i = 0; i < n; ++i) all[i] = QPointF(s.points[i].time / rT, position(s.points[i].frequency, s.scale) / rP);
    // Screen points per normalised unit: constant across, the local slope of the mapping up.
    const double across = std::abs(m.x(rT) - m.x(0.0));
    // d(frequency)/d(normalised position) in the stroke's scale, d(shown position)/d(frequency)
    // in the displayed one, at each point's frequency.
    std::vector<double> up(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double f = std::max(s.points[i].frequency, 1.0);
        const double dF = s.scale == SpectralScale::linear ? rP * SpectralAxis::kLinearTop : f * rP * SpectralAxis::kLogSpan;
        const double dP = m.scale == SpectralScale::linear ? 1.0 / SpectralAxis::kLinearTop : 1.0 / (f * SpectralAxis::kLogSpan);
        const double slope = m.band() * dF * dP;
        up[i] = std::isfinite(slope) ? slope : 0.0;
    }
    std::vector<char> keep(n, 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    if (n > 2) spans.emplace_back(0, n - 1);
    while (!spans.empty()) {
        const auto [from, to] = spans.back();
        spans.pop_back();
        const QPointF a = all[from];
        const QPointF d = all[to] - a;
        const double len2 = QPointF::dotProduct(d, d);
        double worst = -1.0;
        std::size_t at = from;
        for (std::size_t i = from + 1; i < to; ++i) {
            const double u = len2 > 0.0 ? std::clamp(QPointF::dotProduct(all[i] - a, d) / len2, 0.0, 1.0) : 0.0;
            const QPointF miss = all[i] - (a + d * u);
            const double off = std::max(std::abs(miss.x()) * across, std::abs(miss.y()) * up[i]);
            if (!(off <= worst)) {
                worst = off;
                at = i;
            }
        }
        if (!(worst <= 1.0 / 3.0)) {
            keep[at] = 1;
            if (at - from > 1) spans.emplace_back(from, at);
            if (to - at > 1) spans.emplace_back(at, to);
        }
    }
    std::vector<QPointF> q;
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i]) q.push_back(all[i]);
    std::vector<std::pair<QPointF, QPointF>> segments;
    if (q.size() == 1)
        segments.emplace_back(q[0], q[0]);
    else
        for (std::size_t i = 0; i + 1 < q.size(); ++i) segments.emplace_back(q[i], q[i + 1]);

    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    // An outline edge, straight in normalised space, as `steps` equal steps on screen; halves of
    // it whose middle lies within a quarter pixel of their chord are drawn as that chord (an edge
    // along time, or any short one, stays one line).
    std::function<void(QPointF, QPointF, QPointF, QPointF, int)> flatten = [&](QPointF a, QPointF b, QPointF sa, QPointF sb,
                                                                               int steps) {
        if (steps > 1) {
            const QPointF mid = (a + b) / 2.0;
            const QPointF sm = screen(mid.x(), mid.y());
            const QPointF chord = (sa + sb) / 2.0;
            if (std::abs(sm.x() - chord.x()) > 0.25 || std::abs(sm.y() - chord.y()) > 0.25) {
                flatten(a, mid, sa, sm, steps / 2);
                flatten(mid, b, sm, sb, steps - steps / 2);
                return;
            }
        }
        path.lineTo(sb);
    };
    QPointF outline[34];
    for (const auto& [a, b] : segments) {
        if (!cull.isEmpty()) {
            // x grows with time and y falls with frequency in both scales: the corners of the
            // normalised bounds map onto the bounds on screen.
            const QPointF lo = screen(std::min(a.x(), b.x()) - 1.0, std::min(a.y(), b.y()) - 1.0);
            const QPointF hi = screen(std::max(a.x(), b.x()) + 1.0, std::max(a.y(), b.y()) + 1.0);
            if (!QRectF(QPointF(lo.x(), hi.y()), QPointF(hi.x(), lo.y())).adjusted(-1, -1, 1, 1).intersects(cull)) continue;
        }
        const double theta = std::atan2(b.y() - a.y(), b.x() - a.x());
        for (int k = 0; k <= 16; ++k) {
            const double phi = theta + std::numbers::pi / 2.0 - k * std::numbers::pi / 16.0;
            outline[k] = b + QPointF(std::cos(phi), std::sin(phi));
        }
        for (int k = 0; k <= 16; ++k) {
            const double phi = theta - std::numbers::pi / 2.0 - k * std::numbers::pi / 16.0;
            outline[17 + k] = a + QPointF(std::cos(phi), std::sin(phi));
        }
        QPointF shown[34];
        for (int e = 0; e < 34; ++e) shown[e] = screen(outline[e].x(), outline[e].y());
        path.moveTo(shown[0]);
        for (int e = 0; e < 34; ++e) {
            const int next = (e + 1) % 34;
            const double length = std::hypot(outline[next].x() - outline[e].x(), outline[next].y() - outline[e].y());
            const double wanted = std::ceil(4.0 * length);
            const int steps = std::isfinite(wanted) ? int(std::clamp(wanted, 1.0, double(kMaxOutlineSteps))) : 1;
            flatten(outline[e], outline[next], shown[e], shown[next], steps);
        }
        path.closeSubpath();
    }
    // Thousands of overlapping stadiums cost six times as much antialiased; the veil is
    // translucent, so aliased edges read the same.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillPath(path, paint());
    p.restore();
}

void drawShapeCulled(QPainter& p, const SpectralMask::Shape& shape, const Mapping& m, const QRectF& cull) {
    if (const auto* r = std::get_if<SpectralMask::Rectangle>(&shape.value)) {
        drawRectangle(p, *r, m);
    } else if (const auto* poly = std::get_if<SpectralMask::Polygon>(&shape.value)) {
        drawPolygon(p, *poly, m);
    } else if (const auto* s = std::get_if<SpectralMask::Stroke>(&shape.value)) {
        if (s->scale == m.scale)
            drawStrokeSameScale(p, *s, m);
        else
            drawStrokeOtherScale(p, *s, m, cull);
    }
}

void prepare(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
}

}  // namespace

void drawShape(QPainter& painter, const SpectralMask::Shape& shape, const Mapping& m) {
    drawShapeCulled(painter, shape, m, QRectF());
}

void draw(const SpectralMask& mask, QPainter& painter, const Mapping& m, const QRect& visible) {
    if (!m.drawable() || mask.regions.empty() || visible.isEmpty()) return;
    SpectralMaskLayer layer;
    layer.draw(painter, mask, m, visible, visible);
}

namespace {

// One layer per paint device (the multitrack lanes, the clip editor, a benchmark's image); a few
// at most, the oldest dropped first.
SpectralMaskLayer& layerFor(const QPaintDevice* device) {
    static std::vector<std::pair<const QPaintDevice*, std::unique_ptr<SpectralMaskLayer>>> layers;
    for (auto& [owner, layer] : layers)
        if (owner == device) return *layer;
    if (layers.size() >= 4) layers.erase(layers.begin());
    layers.emplace_back(device, std::make_unique<SpectralMaskLayer>());
    return *layers.back().second;
}

}  // namespace

void drawInBody(QPainter& painter, const SpectralMask& mask, const Mapping& m, const QRectF& body, const QRect& exposed) {
    if (!m.drawable() || mask.regions.empty()) return;
    QPaintDevice* device = painter.device();
    QRect shown = device ? QRect(0, 0, device->width(), device->height()) : exposed;
    if (device && device->devType() == QInternal::Widget) shown = static_cast<QWidget*>(device)->visibleRegion().boundingRect();
    auto px = [](double v) { return std::isfinite(v) ? int(std::clamp(v, -1.0e7, 1.0e7)) : 0; };
    const QRect pixels(QPoint(px(std::floor(body.left())), px(std::floor(body.top()))),
                       QPoint(px(std::ceil(body.right())) - 1, px(std::ceil(body.bottom())) - 1));
    const QRect visible = pixels.intersected(shown);
    if (visible.isEmpty()) return;
    layerFor(device).draw(painter, mask, m, visible, exposed);
}

}  // namespace SpectralMaskOverlay

void SpectralMaskLayer::clear() {
    valid_ = false;
    mask_ = SpectralMask{};
    base_ = QImage();
    full_ = QImage();
}

void SpectralMaskLayer::render(QImage& image, const SpectralMask& mask, std::size_t from, std::size_t to) const {
    QPainter p(&image);
    SpectralMaskOverlay::prepare(p);
    p.translate(-rect_.topLeft());
    const QRectF cull(rect_);
    for (std::size_t i = from; i < to && i < mask.regions.size(); ++i) {
        const auto& region = mask.regions[i];
        p.setCompositionMode(region.erase ? QPainter::CompositionMode_Clear : QPainter::CompositionMode_SourceOver);
        SpectralMaskOverlay::drawShapeCulled(p, region.shape, mapping_, cull);
    }
}

void SpectralMaskLayer::draw(QPainter& painter, const SpectralMask& mask, const SpectralMaskOverlay::Mapping& m,
                             const QRect& visible, const QRect& exposed) {
    if (!m.drawable() || mask.regions.empty() || visible.isEmpty()) return;
    const std::size_t n = mask.regions.size();
    const bool sameFrame = valid_ && m == mapping_ && visible == rect_;
    auto prefixEqual = [&](std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            if (!(mask.regions[i] == mask_.regions[i])) return false;
        return true;
    };
    if (sameFrame && mask_.regions.size() == n && mask.regions.back() == mask_.regions.back() && prefixEqual(n - 1)) {
        // Unchanged.
    } else if (sameFrame && mask_.regions.size() == n && prefixEqual(n - 1)) {
        // The last region grew: redraw it over the finished regions.
        full_ = base_.copy();
        render(full_, mask, n - 1, n);
        mask_.regions.back() = mask.regions.back();
        ++appends_;
    } else if (sameFrame && mask_.regions.size() + 1 == n && prefixEqual(n - 1)) {
        // A new region began: what was shown is now finished.
        base_ = full_;
        full_ = base_.copy();
        render(full_, mask, n - 1, n);
        mask_.regions.push_back(mask.regions.back());
        ++appends_;
    } else {
        mapping_ = m;
        rect_ = visible;
        base_ = QImage(visible.size(), QImage::Format_ARGB32_Premultiplied);
        base_.fill(Qt::transparent);
        render(base_, mask, 0, n - 1);
        full_ = base_.copy();
        render(full_, mask, n - 1, n);
        mask_ = mask;
        valid_ = true;
        ++rebuilds_;
    }
    const QRect part = exposed.intersected(rect_);
    if (part.isEmpty()) return;
    painter.save();
    painter.setOpacity(SpectralMaskOverlay::kOpacity);
    painter.drawImage(part.topLeft(), full_, part.translated(-rect_.topLeft()));
    painter.restore();
}

}  // namespace tessoral
