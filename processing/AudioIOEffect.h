#pragma once

#include "model/AudioData.h"
#include "model/EffectParameters.h"
#include "model/EffectPreset.h"

namespace tessoral::AudioIO {

// Renders one effect preset with its slot parameters over a whole signal, offline. The result has
// exactly the input's length in both channels; the input is not changed. A preset that changes
// nothing (an equaliser with no active section, automatic denoise below 2048 frames) returns the
// input's samples without copying them. Throws StudioError for a preset that cannot be rendered.
AudioData effect(EffectPreset preset, const AudioData& audio, const EffectParams& params);

}  // namespace tessoral::AudioIO
