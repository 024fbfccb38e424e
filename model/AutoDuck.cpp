#include "model/AutoDuck.h"

#include <algorithm>
#include <cmath>

#include "model/Automation.h"

namespace tessoral::AutoDuck {

namespace {

constexpr std::int64_t kWindowFrames = 2400;  // 50 ms
constexpr std::size_t kMaxRegions = 499;      // four points each, cropping adds at most two

// Sum of squares in single precision, eight partial sums so that the loop vectorises.
float sumOfSquares(const float* x, std::size_t n) {
    float acc[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (std::size_t k = 0; k < 8; ++k) acc[k] += x[i + k] * x[i + k];
    }
    float sum = ((acc[0] + acc[1]) + (acc[2] + acc[3])) + ((acc[4] + acc[5]) + (acc[6] + acc[7]));
    for (; i < n; ++i) sum += x[i] * x[i];
    return sum;
}

// A ramp length in seconds: 0 for a negative, infinite or not-a-number length.
double rampSeconds(double ms) { return std::isfinite(ms) && ms > 0.0 ? ms / 1000.0 : 0.0; }

}  // namespace

std::vector<TimeRange> speechRegions(const std::vector<VoiceSource>& voices, double thresholdDB, double hold) {
    const double amplitude = std::pow(10.0, thresholdDB / 20.0);
    std::vector<TimeRange> found;
    for (const VoiceSource& voice : voices) {
        if (!std::isfinite(voice.start)) continue;
        const double gain = std::pow(10.0, voice.gainDB / 20.0);
        // The threshold as seen before the clip's gain.
        const double theta = amplitude / std::max(gain, 1e-9);
        const float limit = static_cast<float>(2.0 * theta * theta);
        const std::int64_t total = voice.audio.frames();
        const float* left = voice.audio.left.data();
        const float* right = voice.audio.right.data();
        const auto rightFrames = static_cast<std::int64_t>(voice.audio.right.size());
        for (std::int64_t w = 0; w < total; w += kWindowFrames) {
            const std::int64_t n = std::min(kWindowFrames, total - w);
            float sum = sumOfSquares(left + w, static_cast<std::size_t>(n));
            const std::int64_t rn = std::clamp<std::int64_t>(rightFrames - w, 0, n);
            if (rn > 0) sum += sumOfSquares(right + w, static_cast<std::size_t>(rn));
            const float meanSquare = sum / static_cast<float>(n);
            if (meanSquare > limit) {
                found.push_back({voice.start + framesToSeconds(w), voice.start + framesToSeconds(w + n)});
            }
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const TimeRange& a, const TimeRange& b) { return a.lower < b.lower; });
    std::vector<TimeRange> merged;
    for (const TimeRange& r : found) {
        if (!merged.empty() && r.lower - merged.back().upper < hold) {
            merged.back().upper = std::max(merged.back().upper, r.upper);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

Envelope keyframes(const std::vector<TimeRange>& regions, double clipStart, double clipDuration,
                   const AutoDuckSettings& settings) {
    const double down = rampSeconds(settings.fadeDownMS);
    const double up = rampSeconds(settings.fadeUpMS);
    const double depth = std::isnan(settings.duckDB) ? -60.0 : std::clamp(settings.duckDB, -60.0, 0.0);

    std::vector<TimeRange> merged;  // clip time
    for (const TimeRange& region : regions) {
        if (!(region.lower <= region.upper)) continue;  // reversed, or not a number
        const double s = region.lower - clipStart;
        const double e = region.upper - clipStart;
        // Every point time must be a finite number, or cropping would interpolate NaN values.
        if (!std::isfinite(s - down) || !std::isfinite(e + up)) continue;
        if (!(e + up > 0.0 && s - down < clipDuration)) continue;  // its ramps do not touch the clip
        if (!merged.empty() && s - down <= merged.back().upper + up) {
            merged.back().upper = std::max(merged.back().upper, e);
        } else {
            merged.push_back({s, e});
        }
    }
    if (merged.empty()) return {};

    Envelope points;
    const std::size_t count = std::min(merged.size(), kMaxRegions);
    points.reserve(count * 4);
    for (std::size_t i = 0; i < count; ++i) {
        const TimeRange& r = merged[i];
        points.push_back({r.lower - down, 0.0});
        points.push_back({r.lower, depth});
        points.push_back({r.upper, depth});
        points.push_back({r.upper + up, 0.0});
    }
    return Automation::cropped(points, {0.0, std::max(clipDuration, 0.0)});
}

}  // namespace tessoral::AutoDuck
