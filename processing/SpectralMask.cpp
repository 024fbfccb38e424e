#include "processing/SpectralMask.h"

#include <algorithm>
#include <cmath>

namespace tessoral {

namespace {

// Frequency at a position of the stroke's axis, as the bounds report it (never below 0 Hz).
double boundFrequency(double position, SpectralScale scale) {
    if (scale == SpectralScale::linear) return std::max(position * SpectralAxis::kLinearTop, 0.0);
    return SpectralAxis::frequency(position, scale);
}

// First index whose value is ≥ x (strict = false) or > x (strict = true), by bisection.
std::size_t firstIndex(std::span<const double> a, double x, bool strict) {
    std::size_t lo = 0;
    std::size_t hi = a.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const bool before = strict ? !(a[mid] > x) : (a[mid] < x);
        if (before) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

}  // namespace

std::optional<SpectralMask::Bounds> SpectralMask::Shape::bounds() const {
    if (const auto* r = std::get_if<Rectangle>(&value)) return Bounds{r->time, r->frequency};
    if (const auto* s = std::get_if<Stroke>(&value)) {
        if (s->points.empty()) return std::nullopt;
        double t0 = s->points.front().time, t1 = t0;
        double p0 = SpectralAxis::position(s->points.front().frequency, s->scale), p1 = p0;
        for (const SpectralPoint& p : s->points) {
            const double y = SpectralAxis::position(p.frequency, s->scale);
            t0 = std::min(t0, p.time);
            t1 = std::max(t1, p.time);
            p0 = std::min(p0, y);
            p1 = std::max(p1, y);
        }
        return Bounds{{t0 - s->radiusTime, t1 + s->radiusTime},
                      {boundFrequency(p0 - s->radiusPosition, s->scale), boundFrequency(p1 + s->radiusPosition, s->scale)}};
    }
    const auto& polygon = std::get<Polygon>(value);
    if (polygon.points.size() < 3) return std::nullopt;
    Bounds b{{polygon.points.front().time, polygon.points.front().time},
             {polygon.points.front().frequency, polygon.points.front().frequency}};
    for (const SpectralPoint& p : polygon.points) {
        b.time.lower = std::min(b.time.lower, p.time);
        b.time.upper = std::max(b.time.upper, p.time);
        b.frequency.lower = std::min(b.frequency.lower, p.frequency);
        b.frequency.upper = std::max(b.frequency.upper, p.frequency);
    }
    return b;
}

std::optional<SpectralMask::Bounds> SpectralMask::extent() const {
    std::optional<Bounds> result;
    for (const Region& region : regions) {
        if (region.erase) continue;
        const std::optional<Bounds> b = region.shape.bounds();
        if (!b) continue;
        if (!result) {
            result = b;
            continue;
        }
        result->time.lower = std::min(result->time.lower, b->time.lower);
        result->time.upper = std::max(result->time.upper, b->time.upper);
        result->frequency.lower = std::min(result->frequency.lower, b->frequency.lower);
        result->frequency.upper = std::max(result->frequency.upper, b->frequency.upper);
    }
    return result;
}

SpectralMask::IndexRange SpectralMask::indices(std::span<const double> values, double lo, double hi) {
    if (!(lo <= hi) || values.empty()) return {0, 0};
    const std::size_t first = firstIndex(values, lo, false);
    const std::size_t last = firstIndex(values, hi, true);
    return {first, std::max(last, first)};
}

std::vector<float> SpectralMask::rasterize(std::span<const double> frameTimes, std::span<const double> binFrequencies) const {
    const std::size_t frames = frameTimes.size();
    const std::size_t bins = binFrequencies.size();
    std::vector<float> grid(frames * bins, 0.0f);
    if (frames == 0 || bins == 0 || regions.empty()) return grid;

    // Bin positions per axis, made on first use.
    std::array<std::vector<double>, 2> positionCache;
    auto binPositions = [&](SpectralScale scale) -> const std::vector<double>& {
        std::vector<double>& cached = positionCache[scale == SpectralScale::log ? 0 : 1];
        if (cached.empty()) {
            cached.resize(bins);
            for (std::size_t k = 0; k < bins; ++k) cached[k] = SpectralAxis::position(binFrequencies[k], scale);
        }
        return cached;
    };

    std::vector<double> crossings;
    for (const Region& region : regions) {
        const float v = region.erase ? 0.0f : 1.0f;

        if (const auto* r = std::get_if<Rectangle>(&region.shape.value)) {
            const IndexRange fr = indices(frameTimes, r->time.lower, r->time.upper);
            const IndexRange br = indices(binFrequencies, r->frequency.lower, r->frequency.upper);
            if (fr.empty() || br.empty()) continue;
            for (std::size_t i = fr.lower; i < fr.upper; ++i) {
                std::fill(grid.begin() + static_cast<std::ptrdiff_t>(i * bins + br.lower),
                          grid.begin() + static_cast<std::ptrdiff_t>(i * bins + br.upper), v);
            }
            continue;
        }

        if (const auto* s = std::get_if<Stroke>(&region.shape.value)) {
            if (s->points.empty() || !(s->radiusTime > 0.0) || !(s->radiusPosition > 0.0)) continue;
            const std::vector<double>& positions = binPositions(s->scale);
            const double rt = s->radiusTime;
            const double rp = s->radiusPosition;
            std::vector<std::pair<double, double>> pts;
            pts.reserve(s->points.size());
            for (const SpectralPoint& p : s->points) {
                pts.emplace_back(p.time / rt, SpectralAxis::position(p.frequency, s->scale) / rp);
            }
            const std::size_t segments = pts.size() == 1 ? 1 : pts.size() - 1;
            for (std::size_t j = 0; j < segments; ++j) {
                const auto [ax, ay] = pts[j];
                const auto [bx, by] = pts[std::min(j + 1, pts.size() - 1)];
                const IndexRange fr = indices(frameTimes, (std::min(ax, bx) - 1.0) * rt, (std::max(ax, bx) + 1.0) * rt);
                const IndexRange br = indices(positions, (std::min(ay, by) - 1.0) * rp, (std::max(ay, by) + 1.0) * rp);
                if (fr.empty() || br.empty()) continue;
                const double dx = bx - ax;
                const double dy = by - ay;
                const double dd = dx * dx + dy * dy;
                for (std::size_t i = fr.lower; i < fr.upper; ++i) {
                    const double px = frameTimes[i] / rt;
                    for (std::size_t k = br.lower; k < br.upper; ++k) {
                        const double py = positions[k] / rp;
                        double t = 0.0;
                        if (dd != 0.0) {
                            const double q = ((px - ax) * dx + (py - ay) * dy) / dd;
                            t = std::isnan(q) ? 1.0 : std::clamp(q, 0.0, 1.0);
                        }
                        const double ex = px - (ax + t * dx);
                        const double ey = py - (ay + t * dy);
                        if (ex * ex + ey * ey <= 1.0) grid[i * bins + k] = v;
                    }
                }
            }
            continue;
        }

        const auto& polygon = std::get<Polygon>(region.shape.value);
        if (polygon.points.size() < 3) continue;
        const std::vector<double>& positions = binPositions(polygon.scale);
        std::vector<std::pair<double, double>> vertices;
        vertices.reserve(polygon.points.size());
        bool finite = true;
        double t0 = polygon.points.front().time, t1 = t0;
        for (const SpectralPoint& p : polygon.points) {
            const double y = SpectralAxis::position(p.frequency, polygon.scale);
            finite = finite && std::isfinite(p.time) && std::isfinite(y);
            vertices.emplace_back(p.time, y);
            t0 = std::min(t0, p.time);
            t1 = std::max(t1, p.time);
        }
        // A vertex off the plane would make crossings unordered; such an outline encloses nothing.
        if (!finite) continue;
        const IndexRange fr = indices(frameTimes, t0, t1);
        for (std::size_t i = fr.lower; i < fr.upper; ++i) {
            const double t = frameTimes[i];
            crossings.clear();
            std::size_t prev = vertices.size() - 1;
            for (std::size_t q = 0; q < vertices.size(); prev = q, ++q) {
                const auto& a = vertices[prev];
                const auto& b = vertices[q];
                if (!((a.first <= t && t < b.first) || (b.first <= t && t < a.first))) continue;
                // Interpolate from the earlier vertex, so an outline drawn the other way round
                // gives bit-identical crossings.
                const auto& e0 = a.first < b.first ? a : b;
                const auto& e1 = a.first < b.first ? b : a;
                crossings.push_back(e0.second + (t - e0.first) / (e1.first - e0.first) * (e1.second - e0.second));
            }
            if (crossings.size() < 64) {
                for (std::size_t m = 1; m < crossings.size(); ++m) {
                    const double c = crossings[m];
                    std::size_t n = m;
                    while (n > 0 && crossings[n - 1] > c) {
                        crossings[n] = crossings[n - 1];
                        --n;
                    }
                    crossings[n] = c;
                }
            } else {
                std::sort(crossings.begin(), crossings.end());
            }
            for (std::size_t m = 0; m + 1 < crossings.size(); m += 2) {
                const std::size_t k0 = firstIndex(positions, crossings[m], false);
                const std::size_t k1 = firstIndex(positions, crossings[m + 1], false);
                for (std::size_t k = k0; k < k1; ++k) grid[i * bins + k] = v;
            }
        }
    }
    return grid;
}

}  // namespace tessoral
