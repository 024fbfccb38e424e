#pragma once

#include <span>
#include <vector>

namespace tessoral::AdaptiveDenoise {

// The noise spectrum of one channel for automatic denoise: 1025 magnitudes (bins of a 2048-point
// spectrum, on the scale of FFT::magnitudes) averaged over the quietest tenth of the channel's
// non-silent 2048-sample blocks, with narrow peaks cut to twice their local median.
// Fewer than 2048 samples, or nothing but digital silence, give 1025 zeros.
std::vector<float> estimateNoise(std::span<const float> samples);

}  // namespace tessoral::AdaptiveDenoise
