#pragma once

#include <cstddef>
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

// The past inputs and outputs of one section for one channel.
struct BiquadHistory {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

// Runs one section in place over `count` samples of both channels (two independent recursions,
// side by side), carrying each channel's history.
inline void runSection(const Biquad& s, BiquadHistory& left, BiquadHistory& right, double* bl, double* br,
                       std::size_t count) {
    BiquadHistory l = left, r = right;
    for (std::size_t i = 0; i < count; ++i) {
        const double xl = bl[i], xr = br[i];
        const double yl = s.b0 * xl + s.b1 * l.x1 + s.b2 * l.x2 - s.a1 * l.y1 - s.a2 * l.y2;
        const double yr = s.b0 * xr + s.b1 * r.x1 + s.b2 * r.x2 - s.a1 * r.y1 - s.a2 * r.y2;
        l = {xl, l.x1, yl, l.y1};
        r = {xr, r.x1, yr, r.y1};
        bl[i] = yl;
        br[i] = yr;
    }
    left = l;
    right = r;
}

namespace EQDesign {

// The biquad sections of an equaliser preset at 48 kHz (audio-EQ-cookbook designs), in processing
// order; bands that are off or have no gain are left out. Empty for every other preset.
std::vector<Biquad> sections(EffectPreset preset, const EffectParams& params);

}  // namespace EQDesign

}  // namespace tessoral
