#pragma once

#include <cstdint>
#include <optional>

#include "model/Frames.h"

namespace tessoral {

// A closed range of beat indices first…last (beat k lies at k × beat seconds).
struct BeatIndexRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    friend bool operator==(const BeatIndexRange&, const BeatIndexRange&) = default;
};

// The project's tempo and metre.
struct BeatGrid {
    double tempo = 120.0;           // beats per minute
    std::int64_t beatsPerBar = 4;

    // Seconds per beat. A tempo of 0, a non-finite tempo or one whose beat length is not
    // finite counts as 120 BPM, so no caller ever divides by a zero or infinite beat.
    double beatSeconds() const;
    // beatsPerBar, with 0 or a negative count taken as 1 beat per bar.
    std::int64_t barBeats() const;

    // The time of the beat nearest to t (t below 0 counts as 0, NaN as 0), snapped to a whole frame.
    double nearestBeat(double t) const;
    // The beats lying inside lo…hi (a beat exactly on an edge counts); none when no beat does.
    // NaN edges count as 0 and indices beyond the 64-bit range saturate.
    std::optional<BeatIndexRange> beats(const TimeRange& range) const;

    friend bool operator==(const BeatGrid&, const BeatGrid&) = default;
};

}  // namespace tessoral
