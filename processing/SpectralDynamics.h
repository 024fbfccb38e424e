#pragma once

#include <span>
#include <vector>

// Short-time spectral dynamics of one channel.
namespace tessoral::SpectralDynamics {

// De-esses one channel: frames (1024 samples, Hann, quarter hop) whose level in the sibilance band
// lowFrequency … 10500 Hz exceeds sensitivity × the channel's mean band level are turned down in
// that band, never below the linear gain `floor`, with instant attack and a smooth release.
// Same length out as in; an empty channel is returned unchanged. lowFrequency is expected in
// 0 … 10546 Hz (callers pass 2000 … 9000); a value outside is clamped into that band.
std::vector<float> deessChannel(std::span<const float> samples, float sensitivity, float floor, double lowFrequency);

}  // namespace tessoral::SpectralDynamics
