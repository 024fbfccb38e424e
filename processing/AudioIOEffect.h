#pragma once

#include <span>
#include <vector>

#include "model/AudioData.h"
#include "model/EffectParameters.h"
#include "model/EffectPreset.h"
#include "processing/SpectralDynamics.h"

namespace tessoral::AudioIO {

// Renders one effect preset with its slot parameters over a whole signal, offline. The result has
// exactly the input's length in both channels; the input is not changed. A preset that changes
// nothing (an equaliser with no active section, automatic denoise below 2048 frames) returns the
// input's samples without copying them. Throws StudioError for a preset that cannot be rendered.
AudioData effect(EffectPreset preset, const AudioData& audio, const EffectParams& params);

// Whether the preset renders each channel on its own (the de-esser), so that the channels can
// render at once: effect() then equals the channels rendered one by one with deessChannel().
bool channelsApart(EffectPreset preset);
// One channel through the de-esser with the slot's parameters, as effect() renders each channel.
std::vector<float> deessChannel(std::span<const float> samples, const EffectParams& params);
// The same in steps that several threads can share (see SpectralDynamics::ChannelDeesser).
SpectralDynamics::ChannelDeesser channelDeesser(std::span<const float> samples, const EffectParams& params);

}  // namespace tessoral::AudioIO
