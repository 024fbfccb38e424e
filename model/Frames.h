#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tessoral {

// The one sample rate inside a project.
inline constexpr int kSampleRate = 48000;

// Rounds to the nearest integer, halves away from zero, without undefined behaviour:
// NaN gives 0 and values beyond the 64-bit range saturate.
inline std::int64_t roundSaturating(double x) {
    if (std::isnan(x)) return 0;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double limit = 9223372036854775808.0;
    if (x >= limit) return std::numeric_limits<std::int64_t>::max();
    if (x <= -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::llround(x));
}

// Truncates toward zero with the same guards as roundSaturating.
inline std::int64_t truncSaturating(double x) {
    if (std::isnan(x)) return 0;
    constexpr double limit = 9223372036854775808.0;
    if (x >= limit) return std::numeric_limits<std::int64_t>::max();
    if (x <= -limit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

// Seconds to frames at 48 kHz: round(t × 48000), halves away from zero, saturating.
inline std::int64_t secondsToFrames(double seconds) { return roundSaturating(seconds * kSampleRate); }

inline double framesToSeconds(std::int64_t frames) { return static_cast<double>(frames) / kSampleRate; }

// Clamps into lo…hi (lo ≤ hi).
template <class T>
constexpr T clampTo(T v, T lo, T hi) {
    return v < lo ? lo : (hi < v ? hi : v);
}

}  // namespace tessoral

namespace tessoral {

// A closed range of seconds lower…upper.
struct TimeRange {
    double lower = 0.0;
    double upper = 0.0;
    double length() const { return upper - lower; }
    friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

}  // namespace tessoral
