#include "model/BeatGrid.h"

#include <algorithm>
#include <cmath>

namespace tessoral {

double BeatGrid::beatSeconds() const {
    if (tempo != 0.0 && std::isfinite(tempo)) {
        const double beat = 60.0 / tempo;
        if (std::isfinite(beat)) return beat;
    }
    return 60.0 / 120.0;
}

std::int64_t BeatGrid::barBeats() const { return beatsPerBar >= 1 ? beatsPerBar : 1; }

double BeatGrid::nearestBeat(double t) const {
    if (std::isnan(t)) t = 0.0;
    const double beat = beatSeconds();
    const double n = std::round(std::max(t, 0.0) / beat);
    // Rounded in double precision: a frame count never passes through an integer type.
    return std::round(beat * n * kSampleRate) / kSampleRate;
}

std::optional<BeatIndexRange> BeatGrid::beats(const TimeRange& range) const {
    const double lo = std::isnan(range.lower) ? 0.0 : range.lower;
    const double hi = std::isnan(range.upper) ? 0.0 : range.upper;
    const double beat = beatSeconds();
    // The tolerance keeps a beat that falls exactly on an edge.
    const std::int64_t first = roundSaturating(std::ceil(std::max(lo, 0.0) / beat - 0.000000001));
    const std::int64_t last = roundSaturating(std::floor(hi / beat + 0.000000001));
    if (last < first) return std::nullopt;
    return BeatIndexRange{first, last};
}

}  // namespace tessoral
