#pragma once

#include <cstddef>
#include <span>

#include "model/AudioData.h"

// Peaks of the waveform a player's converter reconstructs from the samples: 8x oversampling
// with Kaiser-windowed sinc kernels of 96 taps, which follow an ideal reconstruction within
// 0.2 % up to 0.48 of the sample rate (23 kHz at 48 kHz). The 4x meter of the loudness
// measurement (16 taps) strays far from it above about 15 kHz: a limiter steered by that meter
// alone leaves full-band material up to 2 dB over its ceiling once reconstructed, and the meter
// in turn can read peaks that the reconstruction does not have. Every value here is the larger
// of the two readings, so a ceiling held by it holds in a player and in the figures shown, which
// stay the 4x meter's. Used by the limiter's detector and the ceiling check of lossy files.
namespace tessoral::reconstruction_peak {

// Values looked at per sample interval: the sample and seven interpolated after it.
inline constexpr int kPhases = 8;
inline constexpr int kTaps = 96;
// Taps cover the input offsets −47 … +48 around the position.
inline constexpr std::size_t kBefore = 47;
inline constexpr std::size_t kAfter = 48;

// out[p] = the largest magnitude of the sample at p, of the seven values interpolated after it
// and of the 4x meter's three, for p = 0 … length − 1 of a padded block (see
// loudness_kernels::BlockWalker, walked with kBefore and kAfter). Where the neighbourhood of a
// position cannot reach above `floor`, out[p] is the 4x meter's reading alone.
void envelope(const float* padded, std::size_t length, float* out, float floor);

// The largest of `atLeast` and the magnitudes of the samples and the values interpolated after
// them (both ways), for the positions of a padded block.
float blockPeak(const float* padded, std::size_t length, float atLeast);

// The reconstructed peak of one channel, linear; 0 for an empty channel.
float peakLinear(std::span<const float> samples);
// The larger of the two channels'.
float peakLinear(const AudioData& audio);

}  // namespace tessoral::reconstruction_peak
