#pragma once

#include <vector>

#include "model/EffectParameters.h"
#include "model/EffectPreset.h"
#include "processing/EQDesign.h"

namespace tessoral::EQResponse {

// max(n, 2) frequencies from 20 Hz to 20 kHz, evenly spaced on a logarithmic axis.
std::vector<double> logFrequencies(int n);

// The magnitude in dB of an equaliser preset's sections at each frequency (Hz, 48 kHz sampling);
// 0 dB everywhere when the preset has no active section.
std::vector<double> magnitudeDB(EffectPreset preset, const EffectParams& params, const std::vector<double>& at);

// The same for a given list of sections.
std::vector<double> magnitudeDB(const std::vector<Biquad>& sections, const std::vector<double>& at);

}  // namespace tessoral::EQResponse
