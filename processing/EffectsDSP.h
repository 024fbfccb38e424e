#pragma once

#include <vector>

#include "model/AudioData.h"
#include "model/EffectParameters.h"
#include "processing/EQDesign.h"

// The sample-level kernels of the presets that are computed directly rather than by a unit graph.
// Every kernel is pure: it returns a new signal of the input's length and never fails. The two
// channels are processed in turn with the same rule; nothing carries over between them.
namespace tessoral::EffectsDSP {

// The biquad cascade (Direct Form I, double coefficients and state, float samples, zero initial
// state per channel). No sections or an empty signal return the input itself.
AudioData biquads(const AudioData& audio, const std::vector<Biquad>& sections);

// Every sample negated.
AudioData invert(const AudioData& audio);

// Modulated delay around 18 ms, the right channel's sweep a quarter period ahead of the left's.
// Reads "depth" (ms), "rate" (Hz), "mix" (%) and "feedback" (%) of the chorus preset.
AudioData chorus(const AudioData& audio, const EffectParams& params);

// Modulated delay around 1.5 ms, both channels sweeping together.
// Reads "depth" (ms), "rate" (Hz), "mix" (%) and "feedback" (%) of the flanger preset.
AudioData flanger(const AudioData& audio, const EffectParams& params);

// A slow automatic gain rider on the mono sum towards "target" dB, limited to ±"maxGain" dB.
AudioData leveler(const AudioData& audio, const EffectParams& params);

}  // namespace tessoral::EffectsDSP
