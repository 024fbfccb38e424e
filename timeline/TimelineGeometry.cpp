#include "timeline/TimelineGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tessoral::TimelineGeometry {

double baseWidth(double offeredWidth) {
    if (!std::isfinite(offeredWidth)) return kMinimumBaseWidth;
    return std::max(offeredWidth - kHeaderWidth, kMinimumBaseWidth);
}

double recordingExtent(bool recording, double position) {
    if (!recording || !std::isfinite(position)) return 0.0;
    return std::ceil(std::max(position + 5.0, 0.0) / 10.0) * 10.0;
}

double pointsPerSecond(double width, double duration) {
    const double d = std::isfinite(duration) ? std::max(duration, 0.001) : 0.001;
    const double pps = width / d;
    return std::isfinite(pps) && pps > 0.0 ? pps : 0.0;
}

double clipWidth(std::int64_t frames, double pps) {
    const double w = static_cast<double>(frames) / 48000.0 * pps;
    return std::isfinite(w) ? std::max(w, 1.0) : 1.0;
}

int toPixel(double v) {
    if (std::isnan(v)) return 0;
    constexpr double limit = 1 << 30;
    return static_cast<int>(std::floor(std::clamp(v, -limit, limit)));
}

std::optional<ClipEdge> trimZone(double x, double y, double w, double rowHeight) {
    if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    if (y < 24.0 || y > rowHeight - kBodyInset || x < -1.0 || x > w + 1.0) return std::nullopt;
    const double z = std::min(w / 3.0, 6.0);
    const double r = w - x;
    if (x <= z && x <= r) return ClipEdge::start;
    if (r <= z) return ClipEdge::end;
    return std::nullopt;
}

EnvelopeBand envelopeBand(double rowHeight) { return EnvelopeBand{kEnvelopeTop, rowHeight - 15.0}; }

bool hasEnvelopeBand(double rowHeight) { return std::isfinite(rowHeight) && rowHeight >= kMinimumEnvelopeRow; }

double envelopeY(double value, bool pan, const EnvelopeBand& band) {
    if (pan) return band.middle() + value * band.height() * 0.5;
    return band.bottom + ((value + 60.0) / -72.0) * band.height();
}

double envelopeValue(double y, bool pan, const EnvelopeBand& band) {
    const double h = band.height();
    if (!(h > 0.0) || !std::isfinite(y)) return pan ? 0.0 : 0.0;
    if (pan) return std::clamp((y - band.middle()) / (h / 2.0), -1.0, 1.0);
    const double v = (band.bottom - y) / h * 72.0 - 60.0;
    return std::clamp(std::round(v * 2.0) / 2.0, -60.0, 12.0);
}

std::vector<QPointF> envelopeLine(const Envelope& points, double defaultValue, bool pan, double pps, double w,
                                  const EnvelopeBand& band) {
    std::vector<QPointF> line;
    line.reserve(points.size() + 2);
    const double first = points.empty() ? defaultValue : points.front().value;
    const double last = points.empty() ? defaultValue : points.back().value;
    line.emplace_back(0.0, envelopeY(first, pan, band));
    for (const auto& p : points) line.emplace_back(p.time * pps, envelopeY(p.value, pan, band));
    line.emplace_back(std::max(w, 1.0), envelopeY(last, pan, band));
    return line;
}

Span lineSpan(double w, bool trimEdges) {
    if (!trimEdges) return Span{-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(), false};
    const double width = std::max(w, 1.0);
    const double inset = std::min(width / 3.0, 6.0);
    const double lower = inset + 1.0;
    return Span{lower, std::max(lower, width - inset - 1.0), true};
}

double distanceToPolyline(const std::vector<QPointF>& line, QPointF p) {
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < line.size(); ++i) {
        const QPointF a = line[i];
        const QPointF b = i + 1 < line.size() ? line[i + 1] : a;
        const double dx = b.x() - a.x();
        const double dy = b.y() - a.y();
        const double len2 = dx * dx + dy * dy;
        double t = 0.0;
        if (len2 > 0.0) t = std::clamp(((p.x() - a.x()) * dx + (p.y() - a.y()) * dy) / len2, 0.0, 1.0);
        const double ex = a.x() + t * dx - p.x();
        const double ey = a.y() + t * dy - p.y();
        best = std::min(best, std::sqrt(ex * ex + ey * ey));
    }
    return best;
}

QPointF fadeHandleCentre(bool fadeIn, double fadeSeconds, double pps, double W) {
    const double w = std::max(W, 1.0);
    double fw = fadeSeconds * pps;
    if (!std::isfinite(fw)) fw = 0.0;
    const double x0 = fadeIn ? std::min(fw, w) : w - std::min(fw, w);
    return {std::min(std::max(x0, 5.0), w - 5.0), 14.0};
}

double fadeGain(FadeCurve curve, double t) {
    t = std::clamp(t, 0.0, 1.0);
    switch (curve) {
        case FadeCurve::linear: return t;
        case FadeCurve::logarithmic: return std::sin(t * M_PI / 2.0);
        case FadeCurve::cosine: return 0.5 - 0.5 * std::cos(t * M_PI);
    }
    return t;
}

int fadeSegments(double length) {
    if (!std::isfinite(length) || length <= 0.5) return 0;
    const double n = std::trunc(std::min(length / 3.0, 1.0e6));
    return static_cast<int>(std::clamp(n, 2.0, 64.0));
}

double axisPosition(double hz, SpectralScale scale) {
    double p = scale == SpectralScale::log ? std::log(std::max(hz, 1.0) / 45.0) / 6.192135242570133 : hz / 22000.0;
    if (std::isnan(p)) p = 0.0;
    return std::clamp(p, 0.0, 1.0);
}

double frequencyAtY(double y, double rowHeight, SpectralScale scale) {
    const double bottom = rowHeight - kBodyInset;
    const double span = rowHeight - 2 * kBodyInset;
    const double cy = bottom < kBodyInset ? bottom : std::clamp(std::isfinite(y) ? y : bottom, kBodyInset, bottom);
    const double t = (bottom - cy) / std::max(span, 1.0);
    if (scale == SpectralScale::log) return 45.0 * std::pow(488.8888888888889, t);
    return std::max(t * 22000.0, 0.0);
}

double yForFrequency(double hz, double rowHeight, SpectralScale scale) {
    const double bottom = rowHeight - kBodyInset;
    const double span = rowHeight - 2 * kBodyInset;
    return bottom - span * axisPosition(hz, scale);
}

bool followScrolls(bool follow, bool running, double zoom, double now, std::optional<double> lastFollow) {
    if (!follow || !running || !(zoom > 1.0)) return false;
    if (lastFollow && now - *lastFollow <= 0.3) return false;
    return true;
}

}  // namespace tessoral::TimelineGeometry
