#pragma once

#include <vector>

#include "model/EffectParameters.h"
#include "model/EffectPreset.h"

namespace tessoral {

// One second-order section normalised by a0:
// y[n] = b0·x[n] + b1·x[n−1] + b2·x[n−2] − a1·y[n−1] − a2·y[n−2].
struct Biquad {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
    friend bool operator==(const Biquad&, const Biquad&) = default;
};

namespace EQDesign {

// The biquad sections of an equaliser preset at 48 kHz (audio-EQ-cookbook designs), in processing
// order; bands that are off or have no gain are left out. Empty for every other preset.
std::vector<Biquad> sections(EffectPreset preset, const EffectParams& params);

}  // namespace EQDesign

}  // namespace tessoral
