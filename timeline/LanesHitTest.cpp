#include "timeline/LanesHitTest.h"

#include <cmath>

#include "timeline/TimelineGeometry.h"

namespace tessoral {

namespace G = TimelineGeometry;

namespace {

// The overlay elements of one clip under p (clip coordinates), none when nothing of it is hit.
std::optional<LanesHit> overlayHit(const LanesSnapshot& s, const ClipItem& item, QPointF p) {
    const Track& clip = s.clip(item);
    const double pps = s.pps();
    const double W = static_cast<double>(clip.frames()) / 48000.0 * pps;
    LanesHit hit;
    hit.clip = &item;
    hit.row = item.row;
    // Fade handles: 15 × 15 squares, the fade-out's drawn over the fade-in's.
    for (bool fadeIn : {false, true}) {
        const QPointF c = G::fadeHandleCentre(fadeIn, fadeIn ? clip.fadeIn : clip.fadeOut, pps, W);
        if (std::abs(p.x() - c.x()) <= 7.5 && std::abs(p.y() - c.y()) <= 7.5) {
            hit.kind = fadeIn ? LanesHit::Kind::fadeIn : LanesHit::Kind::fadeOut;
            return hit;
        }
    }
    if (!s.envelopesShown() || !s.envelopesEditable()) return std::nullopt;
    const auto band = G::envelopeBand(s.rowHeight);
    const auto span = G::lineSpan(W, s.trimEnabled());
    for (bool pan : {true, false}) {
        const Envelope& points = pan ? clip.panEnvelope : clip.volumeEnvelope;
        for (std::size_t i = points.size(); i-- > 0;) {
            const double x = points[i].time * pps;
            const double y = G::envelopeY(points[i].value, pan, band);
            if (std::hypot(p.x() - x, p.y() - y) <= 7.0) {
                hit.kind = pan ? LanesHit::Kind::panPoint : LanesHit::Kind::volumePoint;
                hit.point = i;
                return hit;
            }
        }
        if (span.bounded && (p.x() < span.lower || p.x() > span.upper)) continue;
        const auto line = G::envelopeLine(points, pan ? clip.pan : 0.0, pan, pps, W, band);
        if (G::distanceToPolyline(line, p) <= G::kLineHitDistance) {
            hit.kind = pan ? LanesHit::Kind::panLine : LanesHit::Kind::volumeLine;
            return hit;
        }
    }
    return std::nullopt;
}

}  // namespace

LanesHit hitTest(const LanesSnapshot& s, QPointF p) {
    LanesHit none;
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || p.y() < 0.0 || p.x() < 0.0) return none;
    for (std::size_t i = s.clips.size(); i-- > 0;) {
        const ClipItem& item = s.clips[i];
        const QPointF local = p - item.frame.topLeft();
        if (!s.locked && local.y() >= -8.0 && local.y() <= item.frame.height() + 8.0 && local.x() >= -8.0 &&
            local.x() <= item.frame.width() + 8.0) {
            if (auto hit = overlayHit(s, item, local)) return *hit;
        }
        if (item.frame.contains(p)) {
            LanesHit hit;
            hit.kind = LanesHit::Kind::clip;
            hit.clip = &item;
            hit.row = item.row;
            return hit;
        }
    }
    if (s.rowHeight > 0.0 && p.x() <= s.width) {
        const double r = std::floor(p.y() / s.rowHeight);
        if (r >= 0.0 && r < static_cast<double>(s.rows.size())) {
            LanesHit hit;
            hit.kind = LanesHit::Kind::row;
            hit.row = static_cast<std::size_t>(r);
            return hit;
        }
    }
    return none;
}

}  // namespace tessoral
