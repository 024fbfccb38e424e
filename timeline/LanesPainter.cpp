#include "timeline/LanesPainter.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <set>

#include "model/Localization.h"
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

void drawPeaks(QPainter& p, const Track& clip, const QRectF& f, const QColor& col, bool audible, const QRect& exposed) {
    const double h = f.height();
    const double w = f.width();
    const double cy = f.y() + 0.5 * h + 6.0;
    const int left = std::max(G::toPixel(f.left()), exposed.left());
    const int right = std::min(G::toPixel(f.right()), exposed.right() + 1);
    if (right > left) p.fillRect(QRect(left, G::toPixel(cy), right - left, 1), alpha(col, 0.2));
    const auto& peaks = clip.peaks;
    const long long P = static_cast<long long>(peaks.size());
    if (P == 0) return;
    const long long n = static_cast<long long>(std::clamp(std::trunc(w * 0.5), 1.0, 9000.0));
    const auto [first, last] = visibleColumns(n, f.x(), w, exposed);
    QVector<QRect> rects;
    rects.reserve(int(last - first));
    for (long long i = first; i < last; ++i) {
        const long long lo = static_cast<long long>(std::trunc(double(i) / double(n) * double(P)));
        const long long hi = std::min(P, std::max(lo + 1, static_cast<long long>(std::trunc(double(i + 1) / double(n) * double(P)))));
        if (hi <= lo) continue;
        float peak = 0.0f;
        for (long long k = lo; k < hi; ++k) peak = std::max(peak, peaks[std::size_t(k)]);
        const double v = std::isfinite(peak) ? std::min(double(peak), 1.0) : 0.0;
        const double half = std::max((h - 45.0) * v * 0.5, 0.6);
        const int x = G::toPixel(f.x() + double(i) / double(n) * w);
        const int top = G::toPixel(cy - half);
        const int bottom = G::toPixel(std::ceil(cy + half));
        rects.append(QRect(x, top, 1, std::max(bottom - top, 1)));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(alpha(col, audible ? 0.9 : 0.24));
    p.drawRects(rects);
}

void drawDetailed(QPainter& p, const Track& clip, const QRectF& f, const QColor& col, bool audible, double zoom,
                  const QRect& exposed) {
    const double h = f.height();
    const double w = f.width();
    const double a = 0.2 * h;
    const double z = std::isfinite(zoom) && zoom > 0.0 ? zoom : 1.0;
    const long long n = static_cast<long long>(std::clamp(std::trunc(w / 1.5), 1.0, 9000.0));
    const auto [first, last] = visibleColumns(n, f.x(), w, exposed);
    for (int channel = 0; channel < 2; ++channel) {
        const double cy = f.y() + (channel == 0 ? 0.28 : 0.76) * h;
        const int left = std::max(G::toPixel(f.left()), exposed.left());
        const int right = std::min(G::toPixel(f.right()), exposed.right() + 1);
        if (right > left) p.fillRect(QRect(left, G::toPixel(cy), right - left, 1), alpha(col, 0.3));
        const auto& bins = channel == 0 ? clip.leftEnvelope : clip.rightEnvelope;
        const long long B = static_cast<long long>(bins.size());
        if (B > 0) {
            QVector<QRect> rects;
            rects.reserve(int(last - first));
            for (long long i = first; i < last; ++i) {
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
                const int x = G::toPixel(f.x() + double(i) / double(n) * w);
                const int top = G::toPixel(cy - a * high);
                const int bottom = G::toPixel(std::ceil(cy - a * low + 0.5));
                rects.append(QRect(x, top, 1, std::max(bottom - top, 1)));
            }
            p.setPen(Qt::NoPen);
            p.setBrush(alpha(col, audible ? 1.0 : 0.4));
            p.drawRects(rects);
        }
        p.setPen(Palette::grey());
        p.setFont(Fonts::ui(10, QFont::DemiBold));
        const QFontMetrics fm(p.font());
        p.drawText(QPointF(f.x() + 10.0, cy - a - 4.0 + fm.ascent() - fm.height() / 2.0 + 2.0),
                   channel == 0 ? QStringLiteral("L") : QStringLiteral("R"));
    }
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
    const QRect target(G::toPixel(body.x()), G::toPixel(body.y()), std::max(G::toPixel(std::ceil(body.width())), 1),
                       std::max(G::toPixel(body.height()), 1));
    const auto found = cache->find(clip.id, *item.image, target.size());
    if (!found.pixmap) return;
    p.save();
    p.setOpacity(item.audible ? 1.0 : 0.3);
    const QRect visible = target.intersected(exposed.adjusted(-1, 0, 1, 0));
    if (found.scaled) {
        p.drawPixmap(visible.topLeft(), *found.pixmap, visible.translated(-target.topLeft()));
    } else {
        // Only the exposed columns of the image, stretched to their place.
        const double sx = double(found.pixmap->width()) / double(target.width());
        const double sy = double(found.pixmap->height()) / double(target.height());
        const QRectF source((visible.x() - target.x()) * sx, (visible.y() - target.y()) * sy, visible.width() * sx,
                            visible.height() * sy);
        p.drawPixmap(QRectF(visible), *found.pixmap, source);
    }
    p.restore();
}

void drawSpectralOverlay(QPainter& p, const LanesSnapshot& s, const ClipItem& item) {
    const ClipSpectralOverlay& o = *item.overlay;
    const double rowTop = item.frame.y();
    const double bottom = s.rowHeight - 9.0;
    const double span = s.rowHeight - 18.0;
    const double pps = s.pps();
    const SpectralScale scale = s.display.scale;
    if (o.mask) {
        if (!(s.duration > 0.0) || !(s.width > 0.0) || !(bottom > 9.0)) return;
        const Track& clip = s.clip(item);
        if (const auto extent = o.mask->extent()) {
            const double x0 = s.width * (clip.start + extent->time.lower) / s.duration;
            const double x1 = s.width * (clip.start + extent->time.upper) / s.duration;
            const double pu = G::axisPosition(extent->frequency.upper, scale);
            const double pl = G::axisPosition(extent->frequency.lower, scale);
            const QRectF r(x0, rowTop + bottom - span * pu, std::max(x1 - x0, 1.0), std::max(span * (pu - pl), 1.0));
            QPen pen(white(0.45), 1.0);
            pen.setDashPattern({3.0, 3.0});
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(r);
        }
        return;
    }
    if (!o.frequencies) return;
    const double top = bottom - span * G::axisPosition(o.frequencies->upper, scale);
    const double low = G::yForFrequency(o.frequencies->lower, s.rowHeight, scale);
    const QRectF r(pps * o.range.lower, rowTop + top, pps * (o.range.upper - o.range.lower), std::max(low - top, 1.0));
    p.setPen(QPen(white(0.7), 1.0));
    p.setBrush(white(0.14));
    p.drawRect(r);
}

void drawFades(QPainter& p, const LanesSnapshot& s, const ClipItem& item) {
    const Track& clip = s.clip(item);
    const auto frames = clip.fadeFrames();
    const double pps = s.pps();
    const double W = std::max(double(clip.frames()) / 48000.0 * pps, 1.0);
    const double rh = s.rowHeight;
    for (bool fadeIn : {true, false}) {
        const double fw = double(fadeIn ? frames.fadeIn : frames.fadeOut) / 48000.0 * pps;
        const int n = G::fadeSegments(fw);
        if (n == 0) continue;
        QPainterPath curve;
        QPainterPath shade;
        const FadeCurve shape = fadeIn ? clip.fadeInCurve : clip.fadeOutCurve;
        double xn = 0.0;
        for (int k = 0; k <= n; ++k) {
            const double t = double(k) / double(n);
            const double x = item.frame.x() + (fadeIn ? fw * t : W - fw * t);
            const double y = item.frame.y() + (rh - 9.0) - (rh - 18.0) * G::fadeGain(shape, t);
            if (k == 0) {
                curve.moveTo(x, y);
                shade.moveTo(x, item.frame.y() + 9.0);
                shade.lineTo(x, y);
            } else {
                curve.lineTo(x, y);
                shade.lineTo(x, y);
            }
            xn = x;
        }
        shade.lineTo(xn, item.frame.y() + 9.0);
        shade.closeSubpath();
        p.setRenderHint(QPainter::Antialiasing, true);
        p.fillPath(shade, black(0.35));
        p.strokePath(curve, QPen(white(0.75), 1.2));
        p.setRenderHint(QPainter::Antialiasing, false);
    }
}

void drawEnvelopes(QPainter& p, const LanesSnapshot& s, const ClipItem& item) {
    const Track& clip = s.clip(item);
    const double pps = s.pps();
    const double W = double(clip.frames()) / 48000.0 * pps;
    const auto band = G::envelopeBand(s.rowHeight);
    const double a = clip.muted ? 0.35 : 0.9;
    p.setRenderHint(QPainter::Antialiasing, true);
    for (bool pan : {false, true}) {
        const auto line = G::envelopeLine(pan ? clip.panEnvelope : clip.volumeEnvelope, pan ? clip.pan : 0.0, pan, pps, W, band);
        QPolygonF poly;
        poly.reserve(int(line.size()));
        for (const auto& pt : line) poly.append(pt + item.frame.topLeft());
        p.setPen(QPen(alpha(pan ? panColor() : volumeColor(), a), 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(poly);
    }
    if (s.envelopesEditable() && !s.locked) {
        for (bool pan : {false, true}) {
            const Envelope& points = pan ? clip.panEnvelope : clip.volumeEnvelope;
            p.setPen(QPen(black(0.6), 1.0));
            p.setBrush(pan ? panColor() : volumeColor());
            for (const auto& pt : points) {
                const QPointF c(item.frame.x() + pt.time * pps, item.frame.y() + G::envelopeY(pt.value, pan, band));
                p.drawEllipse(c, 4.0, 4.0);
            }
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}

void drawFadeHandles(QPainter& p, const LanesSnapshot& s, const ClipItem& item) {
    const Track& clip = s.clip(item);
    const double pps = s.pps();
    const double W = double(clip.frames()) / 48000.0 * pps;
    for (bool fadeIn : {true, false}) {
        const QPointF c = G::fadeHandleCentre(fadeIn, fadeIn ? clip.fadeIn : clip.fadeOut, pps, W) + item.frame.topLeft();
        const QRect r(G::toPixel(c.x() - 4.5), G::toPixel(c.y() - 4.5), 9, 9);
        p.fillRect(r.adjusted(1, 1, -1, -1), white(0.85));
        p.setPen(black(0.5));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
}

void drawClip(QPainter& p, const LanesSnapshot& s, const ClipItem& item, SpectrogramPixmaps* cache, const QRect& exposed) {
    const Track& clip = s.clip(item);
    const QRectF& f = item.frame;
    const QColor& col = item.color;
    const double h = f.height();
    const QRectF body(f.x(), f.y() + 9.0, f.width(), std::max(h - 18.0, 0.0));

    // Body: fill and outline.
    const double fill = !item.audible ? 0.035 : item.selected ? 0.13 : 0.09;
    p.setRenderHint(QPainter::Antialiasing, true);
    if (body.height() > 0.0) {
        p.setPen(item.selected ? QPen(alpha(col, 0.75), 1.5) : QPen(alpha(col, 0.25), 1.0));
        p.setBrush(alpha(col, fill));
        const qreal inset = item.selected ? 0.75 : 0.5;
        p.drawRoundedRect(body.adjusted(inset, inset, -inset, -inset), 4.0, 4.0);
    }
    p.setRenderHint(QPainter::Antialiasing, false);

    // Kept handle audio: dashed marks inside the edges.
    if (clip.headHandle || clip.tailHandle) {
        QPen pen(alpha(col, 0.8), 1.5, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setDashPattern({2.0 / 1.5, 3.0 / 1.5});
        p.setPen(pen);
        if (clip.headHandle) p.drawLine(QPointF(f.x() + 1.5, f.y() + 12.0), QPointF(f.x() + 1.5, f.y() + h - 12.0));
        if (clip.tailHandle)
            p.drawLine(QPointF(f.right() - 1.5, f.y() + 12.0), QPointF(f.right() - 1.5, f.y() + h - 12.0));
    }

    // Content.
    if (s.spectral) {
        p.save();
        p.setClipRect(body.intersected(QRectF(exposed)));
        drawSpectrogram(p, s, item, body, cache, exposed);
        p.restore();
    } else if (s.mode == LanesMode::clipEditor) {
        drawDetailed(p, clip, f, col, item.audible, s.amplitudeZoom, exposed);
    } else {
        drawPeaks(p, clip, f, col, item.audible, exposed);
    }

    // Name.
    const double nameWidth = std::max(f.width() - 16.0, 0.0);
    if (nameWidth > 4.0) {
        const QString name = QString::fromStdString(clip.muted ? L("{0} · выкл.", clip.name) : clip.name);
        p.setFont(Fonts::ui(10, QFont::Medium));
        p.setPen(s.spectral ? QColor(Qt::white) : alpha(col, item.audible ? 1.0 : 0.6));
        const QFontMetrics fm(p.font());
        const QRectF r(f.x() + 9.0, f.y() + 14.0, nameWidth, 15.0);
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(name, Qt::ElideRight, int(nameWidth)));
    }

    if (item.overlay) drawSpectralOverlay(p, s, item);

    // The envelope and fade overlay.
    drawFades(p, s, item);
    if (s.envelopesShown()) drawEnvelopes(p, s, item);
    drawFadeHandles(p, s, item);
}

void drawTrimPreview(QPainter& p, const LanesSnapshot& s) {
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
        const QRectF band(pps * std::min(a, b), top, std::max(bw, 1.0), h);
        p.setRenderHint(QPainter::Antialiasing, true);
        if (removing) {
            p.setPen(Qt::NoPen);
            p.setBrush(black(0.45));
        } else {
            QPen pen(alpha(s.trimTint, 0.8), 1.0);
            pen.setDashPattern({3.0, 3.0});
            p.setPen(pen);
            p.setBrush(alpha(s.trimTint, 0.12));
        }
        p.drawRoundedRect(band, 4.0, 4.0);
        p.setRenderHint(QPainter::Antialiasing, false);
    }
    p.fillRect(QRectF(pps * a - 1.0, top, 2.0, h), s.trimTint);
}

void drawCrossfades(QPainter& p, const LanesSnapshot& s, const QRect& exposed) {
    const QRectF area = QRectF(exposed).adjusted(-2, -2, 2, 2);
    for (const auto& shape : crossfadeShapes(s)) {
        if (shape.band.intersects(area)) p.fillRect(shape.band, white(0.07));
        for (const auto& curve : shape.curves) {
            if (!curve.points.boundingRect().adjusted(-2, -2, 2, 2).intersects(area)) continue;
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QPen(curve.color, 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(curve.points);
            p.setRenderHint(QPainter::Antialiasing, false);
        }
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

double playheadX(const LanesSnapshot& s, double playhead) {
    const double x = playhead / std::max(s.duration, 0.001) * s.width;
    return std::isfinite(x) ? x : 0.0;
}

QRect playheadStrip(double x, int height) { return QRect(G::toPixel(x) - 1, 0, 3, height); }

QRect labelRect(const LanesLabel& label) {
    const QFontMetrics fm(Fonts::mono(10, QFont::Medium));
    const int w = fm.horizontalAdvance(label.text) + 10;
    const int h = fm.height() + 4;
    const double cy = std::max(label.at.y() - 16.0, 10.0);
    return QRect(G::toPixel(label.at.x() - w / 2.0), G::toPixel(cy - h / 2.0), w, h);
}

void paint(QPainter& p, const LanesSnapshot& s, const QRect& exposed, double playhead,
           const std::optional<LanesLabel>& label, SpectrogramPixmaps* spectrograms) {
    p.save();
    p.setClipRect(exposed);
    p.fillRect(exposed, Palette::background());
    const int W = G::toPixel(std::ceil(s.width));
    const double rh = s.rowHeight;

    // 1. Row backgrounds.
    for (std::size_t r = 0; r < s.rows.size(); ++r) {
        const QRectF row(0.0, rh * double(r), s.width, rh);
        if (!row.intersects(QRectF(exposed))) continue;
        if (s.selectedRow && *s.selectedRow == r && s.rows[r]) p.fillRect(row, white(0.03));
        p.fillRect(QRectF(0.0, row.bottom() - 1.0, s.width, 1.0), Palette::line());
    }
    // 2. Clips.
    const QRectF area(exposed.adjusted(-8, -8, 8, 8));
    for (const auto& item : s.clips)
        if (item.frame.intersects(area)) drawClip(p, s, item, spectrograms, exposed);
    // 3. Trim preview.
    if (s.trimDrag && s.trimRow) drawTrimPreview(p, s);
    // 4. Crossfades.
    drawCrossfades(p, s, exposed);
    // 5. Reorder highlight.
    if (s.mode == LanesMode::multitrack && s.reorderRow) {
        const QRectF r(1.0, rh * double(*s.reorderRow) + 1.0, std::max(s.width - 2.0, 0.0), std::max(rh - 2.0, 0.0));
        p.fillRect(r, alpha(Palette::accent(), 0.06));
        p.setPen(QPen(alpha(Palette::accent(), 0.8), 2.0));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r);
    }
    // 6. Marker lines.
    if (s.duration > 0.0 && !s.markerTimes.empty()) {
        QPen pen(alpha(markerColor(), 0.5), 1.0);
        pen.setDashPattern({3.0, 4.0});
        p.setPen(pen);
        const double height = s.totalHeight();
        for (double t : s.markerTimes) {
            const double x = t / s.duration * s.width;
            if (!std::isfinite(x) || x < exposed.left() - 2 || x > exposed.right() + 2) continue;
            const double px = std::min(std::floor(x), double(W - 1)) + 0.5;
            p.drawLine(QPointF(px, 0.0), QPointF(px, height));
        }
    }
    // 7. Time selection on the selected row.
    if (s.selection && s.selectedRow && !s.spectralSelectionShown && s.duration != 0.0) {
        const double x = s.width * (s.selection->lower / s.duration);
        const double sw = std::max(s.width * ((s.selection->upper - s.selection->lower) / s.duration), 1.0);
        const double y = rh * double(*s.selectedRow);
        if (std::isfinite(x) && std::isfinite(sw)) {
            p.fillRect(QRectF(x, y, sw, rh), white(0.12));
            p.fillRect(QRectF(x, y, 1.0, rh), white(0.6));
            p.fillRect(QRectF(x + sw - 1.0, y, 1.0, rh), white(0.6));
        }
    }
    // 8. Playhead.
    const double px = playheadX(s, playhead);
    p.fillRect(QRect(G::toPixel(px), 0, 1, G::toPixel(std::ceil(s.totalHeight()))), white(0.85));
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
