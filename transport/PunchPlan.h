#pragma once

#include <cstdint>
#include <optional>

#include "model/AudioData.h"
#include "model/BeatGrid.h"
#include "model/Frames.h"
#include "model/Session.h"
#include "model/Track.h"
#include "model/Uuid.h"

namespace tessoral {

// Where a recording lands on the timeline.
//
// Capture frames are counted at the given sample rate from the first captured frame. Captured audio
// arrives late by the latency: the sound of timeline second t is at capture frame
// round(sampleRate × (t − origin)) + latency.
struct PunchPlan {
    double origin = 0.0;               // timeline second at which capture frame 0 is meant to sound
    std::optional<TimeRange> window;   // the punch range (closed), none for a plain recording
    std::optional<Uuid> target;        // the clip whose row the take replaces on

    // The captured frame at which keeping audio stops: round(sr × (window end − origin)) plus the
    // latency when it is positive. None without a window.
    std::optional<std::int64_t> captureEndFrame(std::int64_t latencyFrames, double sampleRate) const;

    struct Take {
        FrameRange frames;  // captured frames that become the take, never inverted
        double start = 0.0;  // timeline second of the first kept frame, never below 0
        friend bool operator==(const Take&, const Take&) = default;
    };
    // Which of `capturedFrames` captured frames become the take, and where it starts.
    Take take(std::int64_t capturedFrames, std::int64_t latencyFrames, double sampleRate) const;

    friend bool operator==(const PunchPlan&, const PunchPlan&) = default;
};

// ---- Session operations of punch recording ----

// Silences `range` (timeline seconds) in the clip `trackID` and, when that clip lies on a row, in
// every other clip of the row. The clips keep their length and position; their handles are dropped
// and their drawing caches and revision renewed. Returns whether any clip's audio changed.
bool punchOut(Session& session, TimeRange range, const std::optional<Uuid>& trackID);

// Silences the take's span in the row of the clip `replacing` and lays the take over it on that row,
// or puts the take on a new row at the end when there is no such clip or row. The take is marked as
// a punch take. Returns whether existing audio was replaced.
bool addPunchTake(Session& session, Track take, const std::optional<Uuid>& replacing);

// Whether anything could be heard from `from` on: `from` lies before the project's end and some clip
// is unmuted on an unmuted (or missing) row. Solo states and clip positions are not considered.
bool hasAudibleMaterial(const Session& session, double from);

// What plays while recording: the project mixed from the plan's origin (with the punch window
// silenced in the target's row) and/or metronome clicks over at least `length` seconds (at most
// 480 s). None when there is nothing to play. Throws the mixdown's StudioError.
std::optional<AudioData> recordingPlayback(const Session& session, const PunchPlan& plan, double length,
                                           bool includeProject, const std::optional<BeatGrid>& clicks);

}  // namespace tessoral
