#pragma once

// Signals and a slow double-precision analysis shared by the spectral tests.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "model/SplitMix64.h"

namespace tessoral::spectraltest {

using tessoral::whiteNoise;

// Adds amplitude·sin(2πft/48000) to every sample of x[from ..< to].
inline void addSine(std::vector<float>& x, double frequency, double amplitude, std::size_t from = 0,
                    std::size_t to = SIZE_MAX) {
    to = std::min(to, x.size());
    for (std::size_t i = from; i < to; ++i) {
        x[i] += static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / 48000.0));
    }
}

// Amplitude of the component at `frequency` in x[from ..< from + length]: a Hann-windowed DFT at
// that one frequency, in double precision, normalised so that a sine of amplitude A reads A
// (when the window holds whole periods).
inline double amplitudeAt(std::span<const float> x, double frequency, std::size_t from, std::size_t length) {
    std::complex<double> sum = 0.0;
    double windowSum = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(length));
        const double angle = -2.0 * std::numbers::pi * frequency * static_cast<double>(from + i) / 48000.0;
        sum += w * static_cast<double>(x[from + i]) * std::complex<double>(std::cos(angle), std::sin(angle));
        windowSum += w;
    }
    return 2.0 * std::abs(sum) / windowSum;
}

inline double dB(double ratio) { return 20.0 * std::log10(ratio); }

}  // namespace tessoral::spectraltest
