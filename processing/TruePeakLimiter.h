#pragma once

#include "model/AudioData.h"

namespace tessoral::TruePeakLimiter {

// Look-ahead true-peak limiter. The gain follows the peak envelope of both channels as a
// player reconstructs them (reconstruction_peak, finer than the 4x true-peak meter) with a
// threshold 0.1 dB under `ceilingDBTP`: instant attack spread over the
// look-ahead window before each peak, held for the window, released with the `release`
// time constant (seconds). Audio that never exceeds the threshold comes back unchanged
// (the same samples); empty audio too.
AudioData apply(const AudioData& audio, double ceilingDBTP, double lookahead, double release);

}  // namespace tessoral::TruePeakLimiter
