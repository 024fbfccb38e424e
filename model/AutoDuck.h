#pragma once

#include <vector>

#include "model/AudioData.h"
#include "model/AutomationPoint.h"
#include "model/Frames.h"

namespace tessoral {

// How a clip is ducked under speech.
struct AutoDuckSettings {
    double duckDB = 0.0;       // depth, used within −60…0 dB (not a number: −60)
    double thresholdDB = 0.0;  // speech detection threshold, dBFS
    double fadeDownMS = 0.0;   // ramp down before speech (negative or not a number: 0)
    double fadeUpMS = 0.0;     // ramp up after speech (negative or not a number: 0)
    double holdMS = 0.0;       // shorter gaps between speech are bridged

    friend bool operator==(const AutoDuckSettings&, const AutoDuckSettings&) = default;
};

// Speech detection on voice clips and the ducking volume envelope built from it.
namespace AutoDuck {

// One voice clip: its audio, its start on the timeline (s) and its gain (dB).
struct VoiceSource {
    AudioData audio;
    double start = 0.0;
    double gainDB = 0.0;
};

// Where the voices speak, in timeline seconds: 50 ms windows whose mean square (both channels)
// exceeds twice the squared threshold as seen before each clip's gain, sorted by start and
// merged across gaps shorter than `hold` seconds. Voices whose start is not finite are skipped.
std::vector<TimeRange> speechRegions(const std::vector<VoiceSource>& voices, double thresholdDB, double hold);

// The ducking volume envelope (dB, clip time) of a clip at `clipStart` lasting `clipDuration`
// seconds: a ramp down before each merged region, the duck depth through it and a ramp up after
// it, for at most 499 regions, cropped to the clip. Regions whose bounds are not finite or
// reversed are skipped; empty when no region touches the clip.
Envelope keyframes(const std::vector<TimeRange>& regions, double clipStart, double clipDuration,
                   const AutoDuckSettings& settings);

}  // namespace AutoDuck

}  // namespace tessoral
