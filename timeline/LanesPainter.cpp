#include "timeline/LanesPainter.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <set>

#include "model/Localization.h"
#include "timeline/SpectralMaskOverlay.h"
#include "timeline/TimelineGeometry.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace G = TimelineGeometry;

// ---- spectrogram pixmaps ----

SpectrogramPixmaps::Found SpectrogramPixmaps::find(const Uuid& clip, const SpectrogramImage& image, QSize size) {
    if (image.width <= 0 || image.height <= 0 || image.pixels.size() < std::size_t(image.bytesPerRow()) * image.height ||
        size.width() <= 0 || size.height() <= 0)
        return {};
    const bool scaled = size.width() <= kMaxCachedWidth;
    const QSize target = scaled ? size : QSize(image.width, image.height);
    Entry& e = entries_[clip];
    if (e.pixels != image.pixels.data() || e.size != target || e.scaled != scaled) {
        // The store's pixels, read in place: the QImage does not own or copy them.
        const QImage wrapped(image.pixels.data(), image.width, image.height, image.bytesPerRow(), QImage::Format_RGBA8888);
        e.pixmap = QPixmap::fromImage(scaled ? wrapped.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                             : wrapped);
        e.pixels = image.pixels.data();
        e.size = target;
        e.scaled = scaled;
    }
    return {&e.pixmap, scaled};
}

void SpectrogramPixmaps::keepOnly(const LanesSnapshot& snapshot) {
    std::set<Uuid> shown;
    for (const auto& item : snapshot.clips)
        if (item.image) shown.insert(snapshot.clip(item).id);
    for (auto it = entries_.begin(); it != entries_.end();)
        it = shown.count(it->first) ? std::next(it) : entries_.erase(it);
}

namespace LanesPainter {

QColor volumeColor() { return QColor::fromRgbF(0.98f, 0.84f, 0.25f); }
QColor panColor() { return QColor::fromRgbF(0.4f, 0.68f, 1.0f); }
QColor markerColor() { return QColor(255, 159, 10); }

namespace {

QColor alpha(QColor c, double a) {
    c.setAlphaF(float(std::clamp(a, 0.0, 1.0)));
    return c;
}

QColor white(double a) { return alpha(Qt::white, a); }
QColor black(double a) { return alpha(Qt::black, a); }

// The channel letters of the two-channel waveform.
QFont letterFont() { return Fonts::ui(10, QFont::DemiBold); }

// The least room between a clip's name and what it keeps clear of.
constexpr double kLabelGap = 3.0;

// Qt's raster engine hands a blend of more than 96 spans (about one a row) to its thread pool: on a
// busy machine such a call costs ~65 µs against ~0.5 µs for a short one. Everything tall is
// therefore filled as aliased rectangles in bands of at most 90 rows, cut to the exposed part.
constexpr int kBand = 90;

void fillBand(QPainter& p, QRect r, const QColor& c, const QRect& exposed) {
    r = r.intersected(exposed);
    if (r.isEmpty() || c.alpha() == 0) return;
    for (int y = r.top(); y <= r.bottom(); y += kBand) p.fillRect(QRect(r.left(), y, r.width(), std::min(kBand, r.bottom() - y + 1)), c);
}

// Pixel rectangle covering the points x0…x1, y0…y1.
QRect pixels(double x0, double y0, double x1, double y1) {
    const int l = G::toPixel(x0);
    const int t = G::toPixel(y0);
    const int r = std::max(G::toPixel(std::ceil(x1)), l + 1);
    const int b = std::max(G::toPixel(std::ceil(y1)), t + 1);
    return QRect(l, t, r - l, b - t);
}

// A rectangle with its corners cut (radius ~2 pixels), filled, and optionally outlined.
void roundedBox(QPainter& p, const QRect& r, const QColor& fill, const QColor& line, int lineWidth, const QRect& exposed) {
    if (r.width() < 5 || r.height() < 5) {
        fillBand(p, r, fill, exposed);
        return;
    }
    const int x0 = r.left(), x1 = r.right(), y0 = r.top(), y1 = r.bottom(), w = r.width(), h = r.height();
    fillBand(p, QRect(x0, y0 + 2, w, h - 4), fill, exposed);
    fillBand(p, QRect(x0 + 1, y0 + 1, w - 2, 1), fill, exposed);
    fillBand(p, QRect(x0 + 2, y0, w - 4, 1), fill, exposed);
    fillBand(p, QRect(x0 + 1, y1 - 1, w - 2, 1), fill, exposed);
    fillBand(p, QRect(x0 + 2, y1, w - 4, 1), fill, exposed);
    for (int k = 0; k < lineWidth && line.alpha() > 0; ++k) {
        const QColor c = k == 0 ? line : alpha(line, line.alphaF() * 0.5);
        fillBand(p, QRect(x0 + 2, y0 + k, w - 4, 1), c, exposed);
        fillBand(p, QRect(x0 + 2, y1 - k, w - 4, 1), c, exposed);
        fillBand(p, QRect(x0 + k, y0 + 2, 1, h - 4), c, exposed);
        fillBand(p, QRect(x1 - k, y0 + 2, 1, h - 4), c, exposed);
        if (k == 0) {
            for (const QPoint corner : {QPoint(x0 + 1, y0 + 1), QPoint(x1 - 1, y0 + 1), QPoint(x0 + 1, y1 - 1), QPoint(x1 - 1, y1 - 1)})
                fillBand(p, QRect(corner, QSize(1, 1)), c, exposed);
        }
    }
}

// A vertical dashed line one pixel wide from y0 to y1.
void dashedColumn(QPainter& p, int x, double y0, double y1, int on, int off, const QColor& c, const QRect& exposed) {
    if (x < exposed.left() || x > exposed.right()) return;
    const int period = on + off;
    int top = G::toPixel(y0);
    if (top < exposed.top() - period) top += (exposed.top() - top) / period * period - period;  // keep the phase
    const int bottom = std::min(G::toPixel(std::ceil(y1)), exposed.bottom() + 1);
    for (int y = top; y < bottom; y += period) p.fillRect(QRect(x, y, 1, std::min(on, bottom - y)), c);
}

// A horizontal dashed line one pixel high.
void dashedRow(QPainter& p, int y, double x0, double x1, int on, int off, const QColor& c, const QRect& exposed) {
    if (y < exposed.top() || y > exposed.bottom()) return;
    const int period = on + off;
    int left = G::toPixel(x0);
    if (left < exposed.left() - period) left += (exposed.left() - left) / period * period - period;  // keep the phase
    const int right = std::min(G::toPixel(std::ceil(x1)), exposed.right() + 1);
    for (int x = left; x < right; x += period) p.fillRect(QRect(x, y, std::min(on, right - x), 1), c);
}

// A polyline drawn as one aliased run of pixels per column: each column covers the y extent of the
// line within it.
void columnLine(QPainter& p, const QPolygonF& line, const QColor& c, const QRect& exposed) {
    if (line.size() < 2) return;
    const QRectF bounds = line.boundingRect();
    const int first = std::max(G::toPixel(bounds.left()), exposed.left());
    const int last = std::min(G::toPixel(bounds.right()), exposed.right());
    if (last < first) return;
    std::vector<std::pair<double, double>> extent(std::size_t(last - first + 1), {1e300, -1e300});
    for (int i = 0; i + 1 < line.size(); ++i) {
        QPointF a = line[i], b = line[i + 1];
        if (b.x() < a.x()) std::swap(a, b);
        const int c0 = std::max(G::toPixel(a.x()), first);
        const int c1 = std::min(G::toPixel(b.x()), last);
        for (int col = c0; col <= c1; ++col) {
            auto yAt = [&](double x) {
                if (b.x() - a.x() < 1e-9) return a.y();
                return a.y() + (b.y() - a.y()) * (std::clamp(x, a.x(), b.x()) - a.x()) / (b.x() - a.x());
            };
            const double ya = yAt(col);
            const double yb = yAt(col + 1.0);
            auto& e = extent[std::size_t(col - first)];
            e.first = std::min({e.first, ya, yb, b.x() - a.x() < 1e-9 ? b.y() : ya});
            e.second = std::max({e.second, ya, yb, b.x() - a.x() < 1e-9 ? b.y() : yb});
        }
    }
    for (int col = first; col <= last; ++col) {
        const auto& e = extent[std::size_t(col - first)];
        if (e.first > e.second) continue;
        const int top = G::toPixel(e.first);
        const int bottom = std::max(G::toPixel(e.second) + 1, top + 1);
        fillBand(p, QRect(col, top, 1, bottom - top), c, exposed);
    }
}

// The half-open column range [first, last) of n columns across a clip at x0, w wide, that touch
// the exposed x range.
std::pair<long long, long long> visibleColumns(long long n, double x0, double w, const QRect& exposed) {
    if (n <= 0 || !(w > 0.0)) return {0, 0};
    const double a = (exposed.left() - 2 - x0) / w * double(n);
    const double b = (exposed.right() + 3 - x0) / w * double(n);
    const long long first = static_cast<long long>(std::clamp(std::floor(a), 0.0, double(n)));
    const long long last = static_cast<long long>(std::clamp(std::ceil(b) + 1, 0.0, double(n)));
    return {first, std::max(first, last)};
}

// The pixel columns [left, right) of waveform column i of n across a clip at x0, w wide: from the
// column's own left edge to the next column's, the last one to the clip's right edge. Neighbouring
// columns thus tile the clip at any pitch (a fixed width would leave a pixel out wherever a
// fractional pitch lands on a whole pixel).
std::pair<int, int> columnSpan(long long i, long long n, double x0, double w) {
    const int left = G::toPixel(x0 + double(i) / double(n) * w);
    const int right = i + 1 >= n ? G::toPixel(std::ceil(x0 + w)) : G::toPixel(x0 + double(i + 1) / double(n) * w);
    return {left, std::max(right, left + 1)};
}

// The centre line from the clip's left to its right, cut to the exposed part.
void centreLine(QPainter& p, const QRectF& f, double y, const QColor& c, const QRect& exposed) {
    fillBand(p, QRect(G::toPixel(f.left()), G::toPixel(y), std::max(G::toPixel(std::ceil(f.right())) - G::toPixel(f.left()), 1), 1),
             c, exposed);
}

void drawPeaks(QPainter& p, const Track& clip, const QRectF& f, const QColor& col, bool audible, const QRect& exposed) {
    const double h = f.height();
    const double w = f.width();
    const double cy = f.y() + 0.5 * h + 6.0;
    centreLine(p, f, cy, alpha(col, 0.2), exposed);
    const auto& peaks = clip.peaks;
    const long long P = static_cast<long long>(peaks.size());
    if (P == 0) return;
    const long long n = static_cast<long long>(std::clamp(std::trunc(w * 0.5), 1.0, 9000.0));
    const auto [first, last] = visibleColumns(n, f.x(), w, exposed);
    const QColor c = alpha(col, audible ? 0.9 : 0.24);
    for (long long i = first; i < last; ++i) {
        const long long lo = static_cast<long long>(std::trunc(double(i) / double(n) * double(P)));
        const long long hi = std::min(P, std::max(lo + 1, static_cast<long long>(std::trunc(double(i + 1) / double(n) * double(P)))));
        if (hi <= lo) continue;
        float peak = 0.0f;
        for (long long k = lo; k < hi; ++k) peak = std::max(peak, peaks[std::size_t(k)]);
        const double v = std::isfinite(peak) ? std::min(double(peak), 1.0) : 0.0;
        const double half = std::max((h - 45.0) * v * 0.5, 0.6);
        const auto [left, right] = columnSpan(i, n, f.x(), w);
        const QRect r = pixels(0.0, cy - half, 1.0, cy + half);
        fillBand(p, QRect(left, r.top(), right - left, r.height()), c, exposed);
    }
}

void drawDetailed(QPainter& p, const LanesSnapshot& s, const ClipItem& item, const QRect& exposed) {
    const Track& clip = s.clip(item);
    const QRectF& f = item.frame;
    const QColor& col = item.color;
    const bool audible = item.audible;
    const double zoom = s.amplitudeZoom;
    const double h = f.height();
    const double w = f.width();
    const double a = 0.2 * h;
    const double z = std::isfinite(zoom) && zoom > 0.0 ? zoom : 1.0;
    const long long n = static_cast<long long>(std::clamp(std::trunc(w / 1.5), 1.0, 9000.0));
    const auto [first, last] = visibleColumns(n, f.x(), w, exposed);
    const QColor c = alpha(col, audible ? 1.0 : 0.4);
    for (int channel = 0; channel < 2; ++channel) {
        const double cy = f.y() + (channel == 0 ? 0.28 : 0.76) * h;
        centreLine(p, f, cy, alpha(col, 0.3), exposed);
        const auto& bins = channel == 0 ? clip.leftEnvelope : clip.rightEnvelope;
        const long long B = static_cast<long long>(bins.size());
        for (long long i = first; i < last && B > 0; ++i) {
            const long long lo = static_cast<long long>(std::trunc(double(i) / double(n) * double(B)));
            const long long hi =
                std::min(B, std::max(lo + 1, static_cast<long long>(std::trunc(double(i + 1) / double(n) * double(B)))));
            if (hi <= lo) continue;
            float mn = bins[std::size_t(lo)].low;
            float mx = bins[std::size_t(lo)].high;
            for (long long k = lo + 1; k < hi; ++k) {
                mn = std::min(mn, bins[std::size_t(k)].low);
                mx = std::max(mx, bins[std::size_t(k)].high);
            }
            const double low = std::max(double(mn) * z, -1.0);
            const double high = std::min(double(mx) * z, 1.0);
            if (!std::isfinite(low) || !std::isfinite(high)) continue;
            const auto [left, right] = columnSpan(i, n, f.x(), w);
            const QRect r = pixels(0.0, cy - a * high, 1.0, cy - a * low + 0.5);
            fillBand(p, QRect(left, r.top(), right - left, r.height()), c, exposed);
        }
    }
    p.setPen(Palette::grey());
    p.setFont(letterFont());
    for (const auto& letter : channelLetters(s, item)) p.drawText(letter.baseline, letter.text);
}

void drawSpectrogram(QPainter& p, const LanesSnapshot& s, const ClipItem& item, const QRectF& body,
                     SpectrogramPixmaps* cache, const QRect& exposed) {
    const Track& clip = s.clip(item);
    if (!item.image || !cache) {
        p.setPen(Palette::grey());
        p.setFont(Fonts::ui(10));
        const QString text = QString::fromStdString(L("Расчёт спектра…"));
        const QFontMetrics fm(p.font());
        const QPointF c = body.center();
        p.drawText(QPointF(c.x() - fm.horizontalAdvance(text) / 2.0, c.y() + (fm.ascent() - fm.descent()) / 2.0), text);
        return;
    }
    const QRect target = pixels(body.left(), body.top(), body.right(), body.bottom());
    const auto found = cache->find(clip.id, *item.image, target.size());
    if (!found.pixmap) return;
    const QRect visible = target.intersected(exposed);
    if (visible.isEmpty()) return;
    p.save();
    p.setOpacity(item.audible ? 1.0 : 0.3);
    const double sx = double(found.pixmap->width()) / double(target.width());
    const double sy = double(found.pixmap->height()) / double(target.height());
    for (int y = visible.top(); y <= visible.bottom(); y += kBand) {
        const QRect band(visible.left(), y, visible.width(), std::min(kBand, visible.bottom() - y + 1));
        if (found.scaled) {
            p.drawPixmap(band.topLeft(), *found.pixmap, band.translated(-target.topLeft()));
        } else {
            // Only the exposed columns of the image, stretched to their place.
            const QRectF source((band.x() - target.x()) * sx, (band.y() - target.y()) * sy, band.width() * sx, band.height() * sy);
            p.drawPixmap(QRectF(band), *found.pixmap, source);
        }
    }
    p.restore();
}

void drawSpectralOverlay(QPainter& p, const LanesSnapshot& s, const ClipItem& item, const QRect& exposed) {
    const ClipSpectralOverlay& o = *item.overlay;
    const double rowTop = item.frame.y();
    const double bottom = s.rowHeight - 9.0;
    const double span = s.rowHeight - 18.0;
    const double pps = s.pps();
    const SpectralScale scale = s.display.scale;
    if (o.mask) {
        if (!(s.duration > 0.0) || !(s.width > 0.0) || !(bottom > 9.0)) return;
        const Track& clip = s.clip(item);
        SpectralMaskOverlay::drawInBody(p, *o.mask, {clip.start, s.duration, s.width, rowTop + 9.0, rowTop + bottom, scale},
                                        QRectF(item.frame.x(), rowTop + 9.0, item.frame.width(), span), exposed);
        if (const auto extent = o.mask->extent()) {
            const double x0 = s.width * (clip.start + extent->time.lower) / s.duration;
            const double x1 = s.width * (clip.start + extent->time.upper) / s.duration;
            const double pu = G::axisPosition(extent->frequency.upper, scale);
            const double pl = G::axisPosition(extent->frequency.lower, scale);
            const QRect r = pixels(x0, rowTop + bottom - span * pu, x0 + std::max(x1 - x0, 1.0),
                                   rowTop + bottom - span * pu + std::max(span * (pu - pl), 1.0));
            const QColor c = white(0.45);
            dashedRow(p, r.top(), r.left(), r.right() + 1, 3, 3, c, exposed);
            dashedRow(p, r.bottom(), r.left(), r.right() + 1, 3, 3, c, exposed);
            dashedColumn(p, r.left(), r.top(), r.bottom() + 1, 3, 3, c, exposed);
            dashedColumn(p, r.right(), r.top(), r.bottom() + 1, 3, 3, c, exposed);
        }
        return;
    }
    if (!o.frequencies) return;
    const double top = bottom - span * G::axisPosition(o.frequencies->upper, scale);
    const double low = G::yForFrequency(o.frequencies->lower, s.rowHeight, scale);
    const QRect r = pixels(pps * o.range.lower, rowTop + top, pps * o.range.upper, rowTop + top + std::max(low - top, 1.0));
    fillBand(p, r, white(0.14), exposed);
    const QColor edge = white(0.7);
    fillBand(p, QRect(r.left(), r.top(), r.width(), 1), edge, exposed);
    fillBand(p, QRect(r.left(), r.bottom(), r.width(), 1), edge, exposed);
    fillBand(p, QRect(r.left(), r.top() + 1, 1, r.height() - 2), edge, exposed);
    fillBand(p, QRect(r.right(), r.top() + 1, 1, r.height() - 2), edge, exposed);
}

void drawFades(QPainter& p, const LanesSnapshot& s, const ClipItem& item, const QRect& exposed) {
    const Track& clip = s.clip(item);
    const auto frames = clip.fadeFrames();
    const double pps = s.pps();
    const double W = std::max(double(clip.frames()) / 48000.0 * pps, 1.0);
    const double rh = s.rowHeight;
    const double top = item.frame.y() + 9.0;
    for (bool fadeIn : {true, false}) {
        const double fw = double(fadeIn ? frames.fadeIn : frames.fadeOut) / 48000.0 * pps;
        const int n = G::fadeSegments(fw);
        if (n == 0) continue;
        const double left = item.frame.x() + (fadeIn ? 0.0 : W - fw);
        if (left > exposed.right() + 1 || left + fw < exposed.left() - 1) continue;
        const FadeCurve shape = fadeIn ? clip.fadeInCurve : clip.fadeOutCurve;
        QPolygonF curve;
        for (int k = 0; k <= n; ++k) {
            const double t = double(k) / double(n);
            const double x = item.frame.x() + (fadeIn ? fw * t : W - fw * t);
            curve.append(QPointF(x, item.frame.y() + (rh - 9.0) - (rh - 18.0) * G::fadeGain(shape, t)));
        }
        // The shade above the curve, column by column (at each column's centre), then the curve.
        const int c0 = std::max(G::toPixel(left), exposed.left());
        const int c1 = std::min(G::toPixel(std::ceil(left + fw)) - 1, exposed.right());
        for (int col = c0; col <= c1; ++col) {
            const double u = std::clamp((col + 0.5 - left) / fw, 0.0, 1.0);
            const double t = fadeIn ? u : 1.0 - u;
            const double y = item.frame.y() + (rh - 9.0) - (rh - 18.0) * G::fadeGain(shape, t);
            if (y > top) fillBand(p, QRect(col, G::toPixel(top), 1, std::max(G::toPixel(y) - G::toPixel(top), 1)), black(0.35), exposed);
        }
        columnLine(p, curve, white(0.75), exposed);
    }
}

void drawEnvelopes(QPainter& p, const LanesSnapshot& s, const ClipItem& item, const QRect& exposed) {
    const Track& clip = s.clip(item);
    const double pps = s.pps();
    const double W = double(clip.frames()) / 48000.0 * pps;
    const auto band = G::envelopeBand(s.rowHeight);
    const double a = clip.muted ? 0.35 : 0.9;
    for (bool pan : {false, true}) {
        const auto line = G::envelopeLine(pan ? clip.panEnvelope : clip.volumeEnvelope, pan ? clip.pan : 0.0, pan, pps, W, band);
        QPolygonF poly;
        poly.reserve(int(line.size()));
        for (const auto& pt : line) poly.append(pt + item.frame.topLeft());
        // Flat runs are the common case: a 1.4-point line on a pixel row, the rest by columns.
        const QColor c = alpha(pan ? panColor() : volumeColor(), a);
        for (int i = 0; i + 1 < poly.size(); ++i) {
            const QPointF p0 = poly[i], p1 = poly[i + 1];
            if (std::abs(p0.y() - p1.y()) < 0.01) {
                const double y = p0.y();
                const QRect r = pixels(std::min(p0.x(), p1.x()), y - 0.7, std::max(p0.x(), p1.x()), y + 0.7);
                fillBand(p, QRect(r.left(), G::toPixel(y - 0.7 + 0.5), r.width(), std::max(G::toPixel(y + 0.7 + 0.5) - G::toPixel(y - 0.7 + 0.5), 1)),
                         c, exposed);
            } else {
                columnLine(p, QPolygonF({p0, p1}), c, exposed);
            }
        }
    }
    if (s.envelopesEditable()) {
        p.setRenderHint(QPainter::Antialiasing, true);
        for (bool pan : {false, true}) {
            const Envelope& points = pan ? clip.panEnvelope : clip.volumeEnvelope;
            p.setPen(QPen(black(0.6), 1.0));
            p.setBrush(pan ? panColor() : volumeColor());
            for (const auto& pt : points) {
                const QPointF c(item.frame.x() + pt.time * pps, item.frame.y() + G::envelopeY(pt.value, pan, band));
                if (c.x() < exposed.left() - 8 || c.x() > exposed.right() + 8) continue;
                p.drawEllipse(c, 4.0, 4.0);
            }
        }
        p.setRenderHint(QPainter::Antialiasing, false);
    }
}

void drawFadeHandles(QPainter& p, const LanesSnapshot& s, const ClipItem& item, const QRect& exposed) {
    const Track& clip = s.clip(item);
    const double pps = s.pps();
    const double W = double(clip.frames()) / 48000.0 * pps;
    for (bool fadeIn : {true, false}) {
        const QPointF c = G::fadeHandleCentre(fadeIn, fadeIn ? clip.fadeIn : clip.fadeOut, pps, W) + item.frame.topLeft();
        const QRect r(G::toPixel(c.x() - 4.5), G::toPixel(c.y() - 4.5), 9, 9);
        if (!r.intersects(exposed)) continue;
        roundedBox(p, r, white(0.85), black(0.5), 1, exposed);
    }
}

void drawClip(QPainter& p, const LanesSnapshot& s, const ClipItem& item, const std::vector<CrossfadeShape>& crossfades,
              SpectrogramPixmaps* cache, const QRect& exposed) {
    const Track& clip = s.clip(item);
    const QRectF& f = item.frame;
    const QColor& col = item.color;
    const double h = f.height();
    const QRectF body(f.x(), f.y() + 9.0, f.width(), std::max(h - 18.0, 0.0));

    // Body: fill and outline.
    if (body.height() > 0.0) {
        const double fill = !item.audible ? 0.035 : item.selected ? 0.13 : 0.09;
        roundedBox(p, pixels(body.left(), body.top(), body.right(), body.bottom()), alpha(col, fill),
                   item.selected ? alpha(col, 0.75) : alpha(col, 0.25), item.selected ? 2 : 1, exposed);
    }

    // Kept handle audio: dashed marks inside the edges.
    if (clip.headHandle) dashedColumn(p, G::toPixel(f.x() + 1.0), f.y() + 12.0, f.y() + h - 12.0, 2, 3, alpha(col, 0.8), exposed);
    if (clip.tailHandle) dashedColumn(p, G::toPixel(f.right() - 2.0), f.y() + 12.0, f.y() + h - 12.0, 2, 3, alpha(col, 0.8), exposed);

    // Content.
    if (s.spectral) {
        drawSpectrogram(p, s, item, body, cache, exposed);
    } else if (s.mode == LanesMode::clipEditor) {
        drawDetailed(p, s, item, exposed);
    } else {
        drawPeaks(p, clip, f, col, item.audible, exposed);
    }

    // Name.
    const QRectF name = nameRect(s, item, crossfades);
    if (name.width() > 4.0 && name.intersects(QRectF(exposed))) {
        const QString text = QString::fromStdString(clip.muted ? L("{0} · выкл.", clip.name) : clip.name);
        p.setFont(Fonts::ui(10, QFont::Medium));
        p.setPen(s.spectral ? QColor(Qt::white) : alpha(col, item.audible ? 1.0 : 0.6));
        const QFontMetrics fm(p.font());
        p.drawText(name, Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(text, Qt::ElideRight, int(name.width())));
    }

    if (item.overlay) drawSpectralOverlay(p, s, item, exposed);

    // The envelope and fade overlay.
    drawFades(p, s, item, exposed);
    if (s.envelopesShown()) drawEnvelopes(p, s, item, exposed);
    drawFadeHandles(p, s, item, exposed);
}

void drawTrimPreview(QPainter& p, const LanesSnapshot& s, const QRect& exposed) {
    const TrimDrag& d = *s.trimDrag;
    const double pps = s.pps();
    const double top = s.rowHeight * double(*s.trimRow) + 9.0;
    const double h = s.rowHeight - 18.0;
    if (h <= 0.0) return;
    double a = 0.0;
    double b = 0.0;
    bool removing = false;
    if (d.edge == ClipEdge::start) {
        a = d.span.lower;
        b = d.original.lower;
        removing = b < a;
    } else {
        a = d.span.upper;
        b = d.original.upper;
        removing = a < b;
    }
    const double bw = pps * std::abs(a - b);
    if (bw > 0.0) {
        const double x = pps * std::min(a, b);
        const QRect band = pixels(x, top, x + std::max(bw, 1.0), top + h);
        if (removing) {
            roundedBox(p, band, black(0.45), QColor(0, 0, 0, 0), 0, exposed);
        } else {
            roundedBox(p, band, alpha(s.trimTint, 0.12), QColor(0, 0, 0, 0), 0, exposed);
            const QColor c = alpha(s.trimTint, 0.8);
            dashedRow(p, band.top(), band.left() + 2, band.right() - 1, 3, 3, c, exposed);
            dashedRow(p, band.bottom(), band.left() + 2, band.right() - 1, 3, 3, c, exposed);
            dashedColumn(p, band.left(), band.top() + 2, band.bottom() - 1, 3, 3, c, exposed);
            dashedColumn(p, band.right(), band.top() + 2, band.bottom() - 1, 3, 3, c, exposed);
        }
    }
    fillBand(p, pixels(pps * a - 1.0, top, pps * a + 1.0, top + h), s.trimTint, exposed);
}

void drawCrossfades(QPainter& p, const std::vector<CrossfadeShape>& shapes, const QRect& exposed) {
    for (const auto& shape : shapes) {
        fillBand(p, pixels(shape.band.left(), shape.band.top(), shape.band.right(), shape.band.bottom()), white(0.07), exposed);
        for (const auto& curve : shape.curves) columnLine(p, curve.points, curve.color, exposed);
    }
}

}  // namespace

std::vector<CrossfadeShape> crossfadeShapes(const LanesSnapshot& s) {
    std::vector<CrossfadeShape> shapes;
    if (s.mode != LanesMode::multitrack || !s.crossfades) return shapes;
    const auto crossfades = s.session.crossfades();
    if (crossfades.empty()) return shapes;
    const auto automatic = s.session.automaticFades();
    const double pps = s.pps();
    for (const auto& xf : crossfades) {
        const auto row = s.session.laneIndex(xf.lane);
        if (!row) continue;
        const Track* outgoing = s.session.track(xf.outgoing);
        const Track* incoming = s.session.track(xf.incoming);
        if (!outgoing || !incoming) continue;
        const double t0 = double(xf.frames.lower) / 48000.0;
        const double t1 = double(xf.frames.upper) / 48000.0;
        const double top = double(*row) * s.rowHeight + 9.0;
        const double bottom = double(*row + 1) * s.rowHeight - 9.0;
        const double h = bottom - top;
        CrossfadeShape shape;
        shape.band = QRectF(t0 * pps, top, std::max((t1 - t0) * pps, 1.0), h);
        for (const Track* clip : {outgoing, incoming}) {
            // The fades as the mix plays them: lengthened to what the overlap asks, logarithmic then.
            Track copy = *clip;
            AutomaticFade a;
            if (const auto it = automatic.find(clip->id); it != automatic.end()) a = it->second;
            if (copy.fadeIn < a.fadeIn) {
                copy.fadeIn = a.fadeIn;
                copy.fadeInCurve = FadeCurve::logarithmic;
            }
            if (copy.fadeOut < a.fadeOut) {
                copy.fadeOut = a.fadeOut;
                copy.fadeOutCurve = FadeCurve::logarithmic;
            }
            const auto frames = copy.fadeFrames();
            const bool in = clip == incoming;
            const double L = pps * double(in ? frames.fadeIn : frames.fadeOut) / 48000.0;
            const double origin = in ? copy.start : copy.start + double(copy.frames()) / 48000.0;
            const FadeCurve curve = in ? copy.fadeInCurve : copy.fadeOutCurve;
            const double direction = in ? 1.0 : -1.0;
            const int n = G::fadeSegments(L);
            if (n == 0) continue;
            CrossfadeShape::Curve drawn;
            drawn.color = Palette::track(clip->color);
            drawn.incoming = in;
            for (int i = 0; i <= n; ++i) {
                const double t = double(i) / double(n);
                drawn.points.append(QPointF(origin * pps + direction * L * t, bottom - h * G::fadeGain(curve, t)));
            }
            shape.curves.push_back(std::move(drawn));
        }
        shapes.push_back(std::move(shape));
    }
    return shapes;
}

std::vector<ChannelLetter> channelLetters(const LanesSnapshot& s, const ClipItem& item) {
    std::vector<ChannelLetter> letters;
    if (s.spectral || s.mode != LanesMode::clipEditor) return letters;
    const QRectF& f = item.frame;
    const double h = f.height();
    const double a = 0.2 * h;
    const QFontMetrics fm(letterFont());
    for (int channel = 0; channel < 2; ++channel) {
        const double cy = f.y() + (channel == 0 ? 0.28 : 0.76) * h;
        ChannelLetter letter;
        letter.text = channel == 0 ? QStringLiteral("L") : QStringLiteral("R");
        letter.baseline = QPointF(f.x() + 10.0, cy - a - 4.0 + fm.ascent() - fm.height() / 2.0 + 2.0);
        letter.box = QRectF(letter.baseline.x(), letter.baseline.y() - fm.ascent(), fm.horizontalAdvance(letter.text),
                            fm.height());
        // Under the covering strip (the amplitude scale names the channels there itself).
        if (s.coverTo > s.coverFrom && letter.box.right() > s.coverFrom && letter.box.left() < s.coverTo) continue;
        letters.push_back(letter);
    }
    return letters;
}

QRectF nameRect(const LanesSnapshot& s, const ClipItem& item, const std::vector<CrossfadeShape>& crossfades) {
    const QRectF& f = item.frame;
    const Track& clip = s.clip(item);
    const double top = f.y() + 14.0;
    const double bottom = top + 15.0;
    // What lies over the name's band, as x ranges: the fades up to their handles, crossfades, the
    // channel letters and the covering strip.
    std::vector<std::pair<double, double>> taken;
    const double pps = s.pps();
    const double W = double(clip.frames()) / 48000.0 * pps;
    const QPointF in = G::fadeHandleCentre(true, clip.fadeIn, pps, W) + f.topLeft();
    const QPointF out = G::fadeHandleCentre(false, clip.fadeOut, pps, W) + f.topLeft();
    taken.emplace_back(f.left(), in.x() + 4.5);
    taken.emplace_back(out.x() - 4.5, f.right());
    for (const auto& shape : crossfades)
        if (shape.band.top() < bottom && shape.band.bottom() > top && shape.band.left() < f.right() && shape.band.right() > f.left())
            taken.emplace_back(shape.band.left(), shape.band.right());
    for (const auto& letter : channelLetters(s, item))
        if (letter.box.top() < bottom && letter.box.bottom() > top) taken.emplace_back(letter.box.left(), letter.box.right());
    if (s.coverTo > s.coverFrom) taken.emplace_back(s.coverFrom, s.coverTo);
    std::sort(taken.begin(), taken.end());
    // The name starts after whatever begins at its place, and ends before the next thing.
    double left = f.left() + 9.0;
    double right = f.right() - 7.0;
    for (const auto& [a, b] : taken)
        if (a < left + kLabelGap && b > left) left = b + kLabelGap;
    for (const auto& [a, b] : taken)
        if (b > left) right = std::min(right, a - kLabelGap);
    return QRectF(left, top, std::max(right - left, 0.0), bottom - top);
}

double playheadX(const LanesSnapshot& s, double playhead) {
    const double x = playhead / std::max(s.duration, 0.001) * s.width;
    return std::isfinite(x) ? x : 0.0;
}

QRect playheadStrip(double x, int height) { return QRect(G::toPixel(x) - 1, 0, 3, height); }

QRect labelRect(const LanesLabel& label) {
    const QFontMetrics fm(Fonts::mono(10, QFont::Medium));
    const int w = fm.horizontalAdvance(label.text) + 10;
    const int h = fm.height() + 4;
    const double cy = std::max(label.at.y() - 16.0, label.rowTop + 10.0);
    return QRect(G::toPixel(label.at.x() - w / 2.0), G::toPixel(cy - h / 2.0), w, h);
}

void paint(QPainter& p, const LanesSnapshot& s, const QRect& exposed, double playhead,
           const std::optional<LanesLabel>& label, SpectrogramPixmaps* spectrograms) {
    p.save();
    p.setClipRect(exposed);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(exposed, Palette::background());
    const double rh = s.rowHeight;
    const int W = G::toPixel(std::ceil(s.width));
    const int H = G::toPixel(std::ceil(s.totalHeight()));

    // 1. Row backgrounds.
    for (std::size_t r = 0; r < s.rows.size(); ++r) {
        const QRect row = pixels(0.0, rh * double(r), s.width, rh * double(r + 1));
        if (!row.intersects(exposed)) continue;
        if (s.selectedRow && *s.selectedRow == r && s.rows[r]) fillBand(p, row, white(0.03), exposed);
        fillBand(p, QRect(0, G::toPixel(rh * double(r + 1)) - 1, W, 1), Palette::line(), exposed);
    }
    // 2. Clips.
    const auto crossfades = crossfadeShapes(s);
    const QRectF area(exposed.adjusted(-8, -8, 8, 8));
    for (const auto& item : s.clips)
        if (item.frame.intersects(area)) drawClip(p, s, item, crossfades, spectrograms, exposed);
    // 3. Trim preview.
    if (s.trimDrag && s.trimRow) drawTrimPreview(p, s, exposed);
    // 4. Crossfades.
    drawCrossfades(p, crossfades, exposed);
    // 5. Reorder highlight.
    if (s.mode == LanesMode::multitrack && s.reorderRow) {
        const QRect r = pixels(0.0, rh * double(*s.reorderRow), s.width, rh * double(*s.reorderRow + 1));
        fillBand(p, r.adjusted(2, 2, -2, -2), alpha(Palette::accent(), 0.06), exposed);
        const QColor edge = alpha(Palette::accent(), 0.8);
        fillBand(p, QRect(r.left(), r.top(), r.width(), 2), edge, exposed);
        fillBand(p, QRect(r.left(), r.bottom() - 1, r.width(), 2), edge, exposed);
        fillBand(p, QRect(r.left(), r.top() + 2, 2, r.height() - 4), edge, exposed);
        fillBand(p, QRect(r.right() - 1, r.top() + 2, 2, r.height() - 4), edge, exposed);
    }
    // 6. Marker lines: dashed 3 on, 4 off.
    if (s.duration > 0.0) {
        for (double t : s.markerTimes) {
            const double x = t / s.duration * s.width;
            if (!std::isfinite(x)) continue;
            dashedColumn(p, std::min(G::toPixel(x), W - 1), 0.0, s.totalHeight(), 3, 4, alpha(markerColor(), 0.5), exposed);
        }
    }
    // 7. Time selection on the selected row.
    if (s.selection && s.selectedRow && !s.spectralSelectionShown && s.duration != 0.0) {
        const double x = s.width * (s.selection->lower / s.duration);
        const double sw = std::max(s.width * ((s.selection->upper - s.selection->lower) / s.duration), 1.0);
        const double y = rh * double(*s.selectedRow);
        if (std::isfinite(x) && std::isfinite(sw)) {
            const QRect r = pixels(x, y, x + sw, y + rh);
            fillBand(p, r, white(0.12), exposed);
            fillBand(p, QRect(r.left(), r.top(), 1, r.height()), white(0.6), exposed);
            fillBand(p, QRect(r.right(), r.top(), 1, r.height()), white(0.6), exposed);
        }
    }
    // 8. Playhead.
    fillBand(p, QRect(G::toPixel(playheadX(s, playhead)), 0, 1, H), white(0.85), exposed);
    // The gesture's label.
    if (label) {
        const QRect r = labelRect(*label);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(black(0.75));
        p.drawRoundedRect(r, 3.0, 3.0);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(Palette::primaryText());
        p.setFont(Fonts::mono(10, QFont::Medium));
        p.drawText(r, Qt::AlignCenter, label->text);
    }
    p.restore();
}

}  // namespace LanesPainter

}  // namespace tessoral
