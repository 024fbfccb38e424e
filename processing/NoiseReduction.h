#pragma once

#include <span>
#include <vector>

#include "model/AudioData.h"
#include "processing/NoiseProfile.h"

// Spectral-gate noise reduction against a learnt noise print.
namespace tessoral::NoiseReduction {

// Analysis frame length and the number of magnitude bins of a noise spectrum.
inline constexpr int kFrameLength = 2048;
inline constexpr int kBins = kFrameLength / 2 + 1;

// Mean magnitude spectrum (1025 bins) of one channel over Hann-windowed 2048-sample frames at a
// 512-sample hop, no padding. Fewer than 2048 samples give 1025 zeros.
std::vector<float> averageSpectrum(std::span<const float> channel);

// Spectral gate of one whole channel against a 1025-bin noise spectrum; same length out as in.
// strength is clamped to 0.05 … 1 (NaN counts as 1). An empty channel, or a noise spectrum of
// fewer than 1025 values, returns the samples unchanged.
std::vector<float> process(std::span<const float> samples, std::span<const float> noise, float strength);

// Reduces noise in the frames range.lower ..< range.upper of both channels, with up to 256-frame
// crossfades into the untouched material at inner edges. An empty, negative or out-of-range
// range returns the audio unchanged; frames outside the range are always unchanged.
AudioData apply(const NoiseProfile& profile, const AudioData& audio, FrameRange range, double strength);

}  // namespace tessoral::NoiseReduction
