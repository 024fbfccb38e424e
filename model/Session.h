#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/Lane.h"
#include "model/SessionMarker.h"
#include "model/Track.h"

namespace tessoral {

// Two overlapping clips on one row: the earlier one fades out while the later one fades in.
struct Crossfade {
    Uuid lane;
    Uuid outgoing;
    Uuid incoming;
    FrameRange frames;  // timeline frames: incoming start ..< outgoing end
    friend bool operator==(const Crossfade&, const Crossfade&) = default;
};

// Fade lengths (seconds) that automatic crossfades ask of a clip.
struct AutomaticFade {
    double fadeIn = 0.0;
    double fadeOut = 0.0;
    friend bool operator==(const AutomaticFade&, const AutomaticFade&) = default;
};

// One project.
struct Session {
    std::vector<Track> tracks;  // all clips, in insertion (= mixing) order
    std::vector<Lane> lanes;    // track rows, top to bottom
    double masterDB = 0.0;
    std::vector<SessionMarker> markers;
    double tempo = 120.0;
    std::int64_t beatsPerBar = 4;
    bool autoCrossfade = true;

    friend bool operator==(const Session&, const Session&) = default;

    // End of the latest clip in seconds; 0 without clips.
    double duration() const;
    // Decoded audio of all clips and their handles.
    std::int64_t bytes() const;

    Track* track(const Uuid& id);
    const Track* track(const Uuid& id) const;
    std::optional<std::size_t> trackIndex(const Uuid& id) const;

    // The one-clip copy used to export or preview a clip as the waveform editor plays it.
    Session isolated(const Uuid& clipID) const;

    // ---- track rows and clip placement ----
    bool soloActive() const;
    const Lane* lane(const Track& clip) const;
    Lane* lane(const Uuid& laneID);
    std::optional<std::size_t> laneIndex(const std::optional<Uuid>& laneID) const;
    bool isAudible(const Track& clip, std::optional<bool> soloActive = std::nullopt) const;
    // The row's clips by start time (stable).
    std::vector<const Track*> clipsInLane(const Uuid& laneID) const;
    // The latest-starting clip of the row that contains t, else the row's first clip.
    const Track* clipNear(const Uuid& laneID, double t) const;
    // The row's clip with the largest overlap with the range (the later one on a tie).
    const Track* clipOverlapping(const Uuid& laneID, TimeRange range) const;
    bool needsLaneNormalization() const;
    // Gives every clip without a valid row a row of its own at the bottom.
    void normalizeLanes();
    // Places the clip on a new row (at the end, or at the clamped index); returns the clip's id.
    Uuid appendOnNewLane(Track clip, std::optional<std::int64_t> index = std::nullopt);
    std::optional<Uuid> splitClip(const Uuid& clipID, std::int64_t atFrame);
    std::optional<Uuid> duplicateClip(const Uuid& clipID);
    std::optional<Uuid> duplicateLane(const Uuid& laneID);
    // Throws StudioError with the reason; changes nothing then.
    Uuid pasteClip(AudioData audio, std::string name, std::optional<Uuid> laneID, double at);
    bool moveLane(const Uuid& laneID, std::int64_t to);
    Session isolatedLane(const Uuid& laneID) const;

    // ---- mixdown ----
    // What a clip sounds like after its effect rack; the mixdown calls it for every audible clip
    // that overlaps the range. The model cannot render racks itself, so every mix is handed the
    // renderer (the processing layer's RackRenderer::render): there is no default that would mix
    // clips dry by accident.
    using ClipRenderer = std::function<AudioData(const Track&)>;
    // The project, or a time range of it, mixed to one stereo signal (see Mixdown.cpp).
    // Throws StudioError when nothing is to be mixed or the mix would exceed 8 minutes, and
    // std::invalid_argument for an empty renderer.
    AudioData mixed(std::optional<TimeRange> range, const ClipRenderer& render) const;
    // `mixed(range, {})` and `mixed(range, nullptr)` do not compile.
    AudioData mixed(std::optional<TimeRange> range, std::nullptr_t) const = delete;
    // The same in two steps, for a renderer that wants to know every clip before the first is
    // asked for: the clips the mix renders, in the order it renders them, each as it is handed to
    // the renderer (automatic fades applied). mixPlan throws as mixed does; mixed(plan, render)
    // calls `render` once per part, in order, with the part's clip.
    struct MixPart {
        Track clip;
        const Lane* row = nullptr;
        std::int64_t offset = 0;  // output frame of the clip's frame 0
        std::int64_t first = 0;   // clip frames first … last − 1 are heard
        std::int64_t last = 0;
    };
    struct MixPlan {
        std::int64_t frames = 0;
        std::vector<MixPart> parts;
    };
    MixPlan mixPlan(std::optional<TimeRange> range) const;
    AudioData mixed(const MixPlan& plan, const ClipRenderer& render) const;

    // ---- automatic crossfades ----
    std::vector<Crossfade> crossfades() const;
    std::unordered_map<Uuid, AutomaticFade> automaticFades() const;
};

// Row layout of the lanes area.
namespace LaneLayout {
struct Placement {
    const Track* clip;
    std::size_t row;
};
// Clips with a valid row, ordered by start (then by their order in the project).
std::vector<Placement> placements(const Session& project);
// A vertical drag distance as a whole number of rows (halves away from zero).
std::int64_t laneOffset(double dy, double rowHeight);
}  // namespace LaneLayout

}  // namespace tessoral
