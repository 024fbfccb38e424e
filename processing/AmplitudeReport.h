#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "model/AudioData.h"

namespace tessoral {

// Levels and an averaged spectrum of one clip, for the frequency-analysis panel.
struct AmplitudeReport {
    // Sample peak of both channels in dBFS (−240 for silence, −∞ for an empty clip).
    double peak = 0.0;
    // RMS of both channels together in dBFS (−240 for silence, −∞ for an empty clip).
    double rms = 0.0;
    // Integrated loudness in LUFS; none when it cannot be measured.
    std::optional<double> lufs;
    // Mean sample value of both channels (linear).
    double dcOffset = 0.0;
    // Samples, counted per channel, whose magnitude is 1.0 or more.
    std::int64_t clippedSamples = 0;
    // 220 band levels in dB (−110 … ), 20 Hz to 20 kHz on a logarithmic axis, lowest first;
    // empty for an empty clip, and when the transform cannot be set up.
    std::vector<double> spectrum;

    static constexpr int kBands = 220;

    static AmplitudeReport analyze(const AudioData& audio);

    friend bool operator==(const AmplitudeReport&, const AmplitudeReport&) = default;
};

}  // namespace tessoral
