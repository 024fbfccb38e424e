#include "model/Automation.h"

#include <algorithm>
#include <cmath>

#include "model/Limits.h"

namespace tessoral::Automation {

namespace {

// e^(dB × this) = 10^(dB / 20).
constexpr double kDecibelToLog = 0.11512925464970229;

double frameTime(std::int64_t frame) { return static_cast<double>(frame) / kSampleRate; }

// Index of the first point later than t. On any input the search ends between a point at or
// before t and a point after it, so the pair it brackets never has a zero or negative span.
std::size_t firstLater(const Envelope& points, double t) {
    std::size_t lo = 0;
    std::size_t hi = points.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (points[mid].time <= t) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

double between(const AutomationPoint& a, const AutomationPoint& b, double t) {
    return a.value + (t - a.time) / (b.time - a.time) * (b.value - a.value);
}

// The value at t of a non-empty envelope, given i = firstLater(points, t). At or before the first
// point's time it is the first point's value, also when later points share that time.
double valueAt(const Envelope& points, std::size_t i, double t) {
    if (i == 0 || !(t > points.front().time)) return points.front().value;
    if (i == points.size()) return points.back().value;
    return between(points[i - 1], points[i], t);
}

float output(double v, bool decibels) {
    return static_cast<float>(decibels ? std::exp(v * kDecibelToLog) : v);
}

// The first frame of from..<to whose time f/48000 is at or after t; `to` when there is none and
// `from` for a t that is not a number. from < to.
std::int64_t firstFrameAtOrAfter(double t, std::int64_t from, std::int64_t to) {
    if (!(t > frameTime(from))) return from;
    if (!(t <= frameTime(to - 1))) return to;
    // Here t is finite and inside the range, so ceil(t × 48000) is an ordinary frame number;
    // the two loops settle the frame that a product rounded the other way would miss.
    std::int64_t c = clampTo<std::int64_t>(truncSaturating(std::ceil(t * kSampleRate)), from, to - 1);
    while (c > from && frameTime(c - 1) >= t) --c;
    while (c < to && frameTime(c) < t) ++c;
    return c;
}

// Removes the interior points whose loss changes the envelope least until at most `limit` remain.
void thinTo(Envelope& points, std::size_t limit) {
    while (points.size() > limit && points.size() > 2) {
        std::size_t best = 1;
        double bestError = INFINITY;
        for (std::size_t i = 1; i + 1 < points.size(); ++i) {
            const AutomationPoint& a = points[i - 1];
            const AutomationPoint& b = points[i + 1];
            // Without point i the envelope at its time follows the line (or step) from a to b.
            const double without = b.time > a.time ? between(a, b, points[i].time) : points[i].value;
            const double error = std::fabs(points[i].value - without);
            if (error < bestError) {
                bestError = error;
                best = i;
            }
        }
        points.erase(points.begin() + static_cast<std::ptrdiff_t>(best));
    }
}

}  // namespace

void fill(const Envelope& points, FrameRange frames, bool decibels, float* out) {
    const std::int64_t a = frames.lower;
    const std::int64_t b = frames.upper;
    if (b <= a) return;
    if (points.empty()) {
        std::fill(out, out + (b - a), 1.0f);
        return;
    }
    const std::size_t n = points.size();
    std::size_t i = firstLater(points, frameTime(a));
    std::int64_t f = a;
    while (f < b) {
        // The run up to the next point's first frame holds one segment of the envelope.
        std::int64_t end = i < n ? firstFrameAtOrAfter(points[i].time, f, b) : b;
        if (end <= f) end = f + 1;
        float* dst = out + (f - a);
        const std::int64_t count = end - f;
        if (i == 0 || i == n || points[i - 1].value == points[i].value) {
            const double v = i == 0 ? points.front().value : points[i - 1].value;
            std::fill(dst, dst + count, output(v, decibels));
        } else {
            const AutomationPoint& pa = points[i - 1];
            const AutomationPoint& pb = points[i];
            if (decibels) {
                for (std::int64_t k = 0; k < count; ++k) {
                    dst[k] = static_cast<float>(std::exp(between(pa, pb, frameTime(f + k)) * kDecibelToLog));
                }
            } else {
                for (std::int64_t k = 0; k < count; ++k) dst[k] = static_cast<float>(between(pa, pb, frameTime(f + k)));
            }
        }
        f = end;
        if (f < b) {
            const double t = frameTime(f);
            while (i < n && points[i].time <= t) ++i;
        }
    }
}

std::optional<double> value(const Envelope& points, double time) {
    if (points.empty()) return std::nullopt;
    return valueAt(points, firstLater(points, time), time);
}

bool isValid(const Envelope& points, ValueRange range) {
    if (points.size() > static_cast<std::size_t>(limits::kMaxAutomationPoints)) return false;
    double previous = 0.0;
    for (const AutomationPoint& p : points) {
        if (!std::isfinite(p.time) || p.time < 0.0 || p.time > limits::kMaxSeconds) return false;
        if (!std::isfinite(p.value) || !(p.value >= range.lower && p.value <= range.upper)) return false;
        if (p.time < previous) return false;
        previous = p.time;
    }
    return true;
}

std::optional<std::size_t> insert(AutomationPoint point, Envelope& points) {
    if (points.size() >= static_cast<std::size_t>(limits::kMaxAutomationPoints)) return std::nullopt;
    if (!std::isfinite(point.time) || !std::isfinite(point.value)) return std::nullopt;
    const std::size_t index = firstLater(points, point.time);
    points.insert(points.begin() + static_cast<std::ptrdiff_t>(index), point);
    return index;
}

Envelope cropped(const Envelope& points, TimeRange window) {
    if (points.empty() || !std::isfinite(window.lower) || std::isnan(window.upper)) return {};
    const double lo = window.lower;
    const double hi = std::max(window.upper, lo);
    Envelope out;
    out.reserve(points.size() + 2);
    if (points.front().time < lo) out.push_back({0.0, valueAt(points, firstLater(points, lo), lo)});
    for (const AutomationPoint& p : points) {
        if (p.time >= lo && p.time <= hi) out.push_back({p.time - lo, p.value});
    }
    if (points.back().time > hi) out.push_back({hi - lo, valueAt(points, firstLater(points, hi), hi)});
    return out;
}

Envelope replacing(const Envelope& points, TimeRange replaced, double newLength) {
    if (points.empty()) return {};
    // An edit that cannot be placed leaves the envelope as it is.
    if (!std::isfinite(replaced.lower) || !std::isfinite(replaced.upper) || !std::isfinite(newLength) ||
        newLength < 0.0) {
        return points;
    }
    const double lo = std::max(replaced.lower, 0.0);
    const double hi = std::max(replaced.upper, lo);
    const double length = newLength;
    const double first = points.front().time;
    const double last = points.back().time;

    Envelope out;
    out.reserve(points.size() + 6);
    if (lo > 0.0) {
        const Envelope head = cropped(points, {0.0, lo});
        out.insert(out.end(), head.begin(), head.end());
    }
    if (length > 0.0 && lo < hi) {
        const double stretch = hi - lo;
        for (const AutomationPoint& p : cropped(points, {lo, hi})) {
            out.push_back({lo + p.time * length / stretch, p.value});
        }
    }
    if (length > 0.0 && lo == hi && first < lo && lo < last) {
        const double v = valueAt(points, firstLater(points, lo), lo);
        out.push_back({lo, v});
        out.push_back({lo + length, v});
    }
    for (const AutomationPoint& p : cropped(points, {hi, std::max(hi, last)})) {
        out.push_back({lo + length + p.time, p.value});
    }
    out.erase(std::unique(out.begin(), out.end()), out.end());

    // The interpolated points at the edit's edges can push a full envelope past the limit, which
    // the project reader would refuse: give up the points that matter least instead.
    const auto limit = static_cast<std::size_t>(limits::kMaxAutomationPoints);
    if (points.size() <= limit) thinTo(out, limit);
    return out;
}

}  // namespace tessoral::Automation
