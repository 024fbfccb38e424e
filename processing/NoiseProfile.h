#pragma once

#include <vector>

namespace tessoral {

// A learnt noise print: the mean magnitude spectrum of each channel's noise, 1025 bins of the
// 2048-point Hann-windowed analysis of NoiseReduction (on the FFT's doubled scale). It is only
// meaningful together with that analysis.
struct NoiseProfile {
    std::vector<float> left;
    std::vector<float> right;

    friend bool operator==(const NoiseProfile&, const NoiseProfile&) = default;
};

}  // namespace tessoral
