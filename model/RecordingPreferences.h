#pragma once

#include <array>
#include <cstdint>

namespace tessoral {

class Defaults;

// The recording settings, read from the per-user settings when a recording starts.
struct RecordingPreferences {
    bool playProject = true;          // "record.overdub": the project plays while recording
    double preRoll = 2.0;             // "record.preroll": seconds before a punch-in, 0…3
    double latencyMilliseconds = 0;   // "record.latency.ms": manual correction, −200…200
    bool monitorInput = false;        // "record.monitor": hear the input while recording
    float monitorLevel = 0.8f;        // "record.monitor.level": 0…1
    int countdown = 0;                // "record.countdown": count-in seconds, 0…10

    static constexpr const char* kPlayProjectKey = "record.overdub";
    static constexpr const char* kPreRollKey = "record.preroll";
    static constexpr const char* kLatencyKey = "record.latency.ms";
    static constexpr const char* kMonitorKey = "record.monitor";
    static constexpr const char* kMonitorLevelKey = "record.monitor.level";
    static constexpr const char* kCountdownKey = "record.countdown";

    // The pre-roll values the settings panel offers, in seconds.
    static constexpr std::array<double, 4> preRollChoices{0, 1, 2, 3};

    // Reads the six keys with their defaults and clamps; never fails.
    static RecordingPreferences load(const Defaults& defaults);

    friend bool operator==(const RecordingPreferences&, const RecordingPreferences&) = default;
};

// Latency compensation of recordings.
namespace RecordingLatency {

// Seconds: each device latency counted as min(x, 1) when finite and ≥ 0 (else 0), plus the
// manual correction clamped to −200…200 ms (0 when not finite). May be negative.
double total(double inputLatency, double outputLatency, double manualMilliseconds);

// seconds × sampleRate rounded half away from zero; 0 when not finite; saturating.
std::int64_t frames(double seconds, double sampleRate);

}  // namespace RecordingLatency

}  // namespace tessoral
