#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "model/EnumTraits.h"

namespace tessoral {

// The frequency axis shared by the spectrogram and the spectral mask.
//   linear: 0 … 22000 Hz, position y = f / 22000;
//   log:    45 … 22000 Hz, position y = ln(max(f, 1) / 45) / ln(22000 / 45).
// Position 0 is the bottom of the view and 1 its top; frequencies below 45 Hz give negative
// positions on the log axis.
enum class SpectralScale { log, linear };

template <>
struct EnumTraits<SpectralScale> {
    static constexpr std::array<std::pair<SpectralScale, std::string_view>, 2> cases{{
        {SpectralScale::log, "log"},
        {SpectralScale::linear, "linear"},
    }};
};

namespace SpectralAxis {

inline constexpr double kLinearTop = 22000.0;
inline constexpr double kLogBottom = 45.0;
inline constexpr double kLogRatio = 488.8888888888889;     // 22000 / 45
inline constexpr double kLogSpan = 6.192135242570133;      // ln(22000 / 45)

// Axis position of a frequency in Hz.
double position(double frequency, SpectralScale scale);
// Frequency in Hz at an axis position (linear values are not clamped here).
double frequency(double position, SpectralScale scale);

}  // namespace SpectralAxis

// The scale's display title in the running language.
std::string title(SpectralScale scale);

}  // namespace tessoral
