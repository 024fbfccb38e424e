#include "model/NavigationMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace tessoral::NavigationMath {

double rulerStep(double duration, double width, TimeFormat format, const BeatGrid& grid, double spacing) {
    // A NaN minimum compares false with every candidate and so takes the fallback.
    const double minimum = duration / std::max(width / spacing, 1.0);
    if (format != TimeFormat::bars) {
        static constexpr std::array<double, 14> steps{0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1,
                                                      2,    5,    10,   15,  30,  60,  120};
        for (double s : steps)
            if (s >= minimum) return s;
        return steps.back();
    }
    const double beat = grid.beatSeconds();
    const double bar = static_cast<double>(grid.barBeats());
    static constexpr std::array<double, 3> beatSteps{0.25, 0.5, 1};
    for (double b : beatSteps)
        if (b * beat >= minimum) return b * beat;
    static constexpr std::array<double, 8> barSteps{1, 2, 4, 8, 16, 32, 64, 128};
    for (double b : barSteps)
        if (b * bar * beat >= minimum) return b * bar * beat;
    return barSteps.back() * bar * beat;
}

std::optional<TimeRange> extendSelection(const std::optional<TimeRange>& selection, double cursor, double to) {
    double anchor = cursor;
    if (selection) {
        // The end farther from the cursor stays; a tie keeps the upper end.
        anchor = std::abs(cursor - selection->lower) <= std::abs(cursor - selection->upper) ? selection->upper
                                                                                           : selection->lower;
    }
    const TimeRange result{std::min(anchor, to), std::max(anchor, to)};
    // Written so that a NaN length (a NaN cursor or anchor) also gives none.
    if (!(result.length() > 0.000000001)) return std::nullopt;
    return result;
}

std::vector<AmplitudeMark> amplitudeMarks(double zoom, double halfHeight, double minimumGap) {
    static constexpr std::array<int, 13> candidates{0, -3, -6, -9, -12, -18, -24, -30, -36, -42, -48, -60, -72};
    std::vector<AmplitudeMark> marks;
    double last = std::numeric_limits<double>::infinity();
    for (int db : candidates) {
        double f = std::pow(10.0, db / 20.0);
        // An amplitude zoom below 1 does not shrink the marks.
        if (zoom >= 1.0) f *= zoom;
        if (f <= 1.000000001 && halfHeight * f >= minimumGap && halfHeight * (last - f) >= minimumGap) {
            marks.push_back({db, f});
            last = f;
        }
    }
    return marks;
}

}  // namespace tessoral::NavigationMath
