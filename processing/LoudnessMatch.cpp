#include "processing/LoudnessMatch.h"

#include <cmath>

#include "model/Frames.h"

namespace tessoral::LoudnessMatch {

std::optional<double> faderGain(const LoudnessMeasurement& measurement, LoudnessTarget target, double laneGainDB) {
    double gain = 0.0;
    if (target == LoudnessTarget::none) return std::nullopt;
    if (target == LoudnessTarget::peak) {
        if (!std::isfinite(measurement.samplePeak)) return std::nullopt;
        gain = -1.0 - measurement.samplePeak - laneGainDB;
    } else {
        if (!measurement.lufs || !std::isfinite(*measurement.lufs)) return std::nullopt;
        gain = *targetLUFS(target) - *measurement.lufs - laneGainDB;
    }
    // A row gain that is not a number must not become the clip's gain.
    if (std::isnan(gain)) return std::nullopt;
    return clampTo(gain, kMinFaderGainDB, kMaxFaderGainDB);
}

void apply(const Processed& processed, Track& track) {
    track.headHandle.reset();
    track.tailHandle.reset();
    track.handleEnvelopes.reset();
    // New audio, drawing caches (1800 peak bins, 2400 envelope bins a channel) and revision.
    track.replaceAudio(processed.audio);
    track.gainDB = 0.0;
    if (processed.flattensRack) {
        track.rack.clear();
        track.essentialSound.reset();
    }
}

}  // namespace tessoral::LoudnessMatch
