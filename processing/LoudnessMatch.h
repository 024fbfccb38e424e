#pragma once

#include <optional>
#include <vector>

#include "model/AudioData.h"
#include "model/EffectSlot.h"
#include "model/LoudnessTarget.h"
#include "model/Track.h"
#include "model/Uuid.h"
#include "processing/Loudness.h"

// The two rules behind loudness matching: the clip gain that brings a measured clip to a
// target by its fader alone, and how a clip takes over audio rendered and normalised for it.
namespace tessoral::LoudnessMatch {

inline constexpr double kMinFaderGainDB = -60.0;
inline constexpr double kMaxFaderGainDB = 12.0;

// One measured clip. The revision, rack and bypass are those at measuring time, so the
// caller can tell when the entry has gone stale.
struct Entry {
    Uuid id;
    Uuid revision;
    std::vector<EffectSlot> rack;
    bool bypassed = false;
    LoudnessMeasurement measurement;  // the clip as heard: its audio through its rack
    friend bool operator==(const Entry&, const Entry&) = default;
};

// The clip gain in dB (−60 … +12) that brings the measurement to the target on a row with
// gain `laneGainDB`; none for `none`, for silence under `peak` and for an unmeasurable
// loudness under a LUFS target. True peak is not considered.
std::optional<double> faderGain(const LoudnessMeasurement& measurement, LoudnessTarget target, double laneGainDB);

// Audio rendered for a clip; `flattensRack` when it already contains the rack's processing.
struct Processed {
    AudioData audio;
    bool flattensRack = false;
};

// The clip takes over the audio: handles dropped, drawing caches rebuilt, a new revision,
// gain 0 dB; the rack and essential-sound settings are cleared when the audio contains them.
void apply(const Processed& processed, Track& track);

}  // namespace tessoral::LoudnessMatch
