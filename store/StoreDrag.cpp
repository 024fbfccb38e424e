// Clip dragging on the multitrack timeline and the snapping of moved and trimmed times.

#include <algorithm>
#include <cmath>

#include "model/BeatGrid.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// The base view width in points across the timeline at zoom 1, and the snapping reach in points.
constexpr double kBaseViewWidth = 900.0;
constexpr double kSnapPoints = 7.0;
// A distance a rounding error short of the tolerance counts as at it (far below one frame).
constexpr double kSnapSlack = 1e-9;

// How far a clip moved, as "−00:02.050" back and "+00:02.050" forward (truncated milliseconds, as
// every time label); counted in whole frames so that no rounding of the two starts shows.
std::string offsetLabel(std::int64_t frames) {
    const std::int64_t ms = (frames < 0 ? -frames : frames) * 1000 / kSampleRate;
    const char* sign = ms == 0 ? "" : frames < 0 ? "−" : "+";
    return sign + num::padded(ms / 60000, 2) + ":" + num::padded((ms / 1000) % 60, 2) + "." + num::padded(ms % 1000, 3);
}

}  // namespace

void StudioStore::beginTrackDrag(const Uuid& id) {
    if (locked() || dragOrigin_) return;
    const Track* clip = session_.track(id);
    if (!clip) return;
    stop();
    checkpoint(L("Сдвиг клипа"));
    setSelectedID(id);
    clip = session_.track(id);
    if (!clip) return;
    dragOrigin_ = DragOrigin{id, clip->start, clip->laneID, clip->color};
}

void StudioStore::dragTrack(const Uuid& idRef, double by, std::int64_t laneOffset) {
    // The id is read again after the project is replaced, so it may not point into it.
    const Uuid id = idRef;
    if (!dragOrigin_ || dragOrigin_->id != id) return;
    const auto index = session_.trackIndex(id);
    if (!index) return;
    const DragOrigin origin = *dragOrigin_;

    // Time: always from the start the gesture began with, so snapping never accumulates.
    // Each step is published as it is made; the project is edited in place, not copied, as the
    // steps come at pointer rate.
    {
        double start = std::min(snapped(origin.start + by, id), limits::kMaxSeconds - session_.tracks[*index].duration());
        if (!(start >= 0.0)) start = 0.0;
        Session changed = std::move(session_);
        changed.tracks[*index].start = start;
        setSession(std::move(changed));
    }

    // Row: relative to the row the clip started on, while that row exists.
    const auto originRow = session_.laneIndex(origin.lane);
    if (!originRow) return;
    const auto rows = static_cast<std::int64_t>(session_.lanes.size());
    const std::int64_t wanted = static_cast<std::int64_t>(*originRow) + std::clamp<std::int64_t>(laneOffset, -rows, rows);
    const Lane target = session_.lanes[static_cast<std::size_t>(std::clamp<std::int64_t>(wanted, 0, rows - 1))];
    const auto now = session_.trackIndex(id);
    if (!now || session_.tracks[*now].laneID == target.id) return;
    {
        Session changed = std::move(session_);
        changed.tracks[*now].laneID = target.id;
        setSession(std::move(changed));
    }
    if (const auto placed = session_.trackIndex(id)) {
        Session changed = std::move(session_);
        changed.tracks[*placed].color = target.id == origin.lane ? origin.color : target.color;
        setSession(std::move(changed));
    }
    setSelectedLaneID(target.id);
}

void StudioStore::endTrackDrag() {
    if (!dragOrigin_) return;
    const DragOrigin origin = *dragOrigin_;
    dragOrigin_.reset();
    const Track* clip = session_.track(origin.id);
    if (!clip) return;
    std::string text = L("Клип сдвинут на {0}", offsetLabel(secondsToFrames(clip->start) - secondsToFrames(origin.start)));
    if (clip->laneID != origin.lane) {
        const Lane* row = session_.lane(*clip);
        text += " · " + (row ? row->name : std::string());
    }
    setStatus(std::move(text));
}

double StudioStore::snapped(double t, const std::optional<Uuid>& excluding, std::optional<double> tolerance) const {
    const double base = std::isnan(t) ? 0.0 : framesToSeconds(secondsToFrames(std::max(t, 0.0)));
    if (!snapping_) return base;
    double tol = 0.0;
    if (tolerance) {
        tol = *tolerance;
    } else {
        const double zoom = std::isfinite(zoom_) && zoom_ > 0.0 ? zoom_ : 1.0;
        tol = timelineDuration() * kSnapPoints / (zoom * kBaseViewWidth);
    }

    double best = 0.0;  // the project start
    double bestDistance = std::abs(base);
    auto consider = [&](double candidate) {
        const double distance = std::abs(candidate - base);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    };
    for (const auto& marker : session_.markers) {
        consider(marker.start);
        if (marker.end) consider(*marker.end);
    }
    for (const auto& clip : session_.tracks) {
        if (excluding && clip.id == *excluding) continue;
        consider(clip.start);
        consider(clip.end());
    }
    if (timeFormat_ == TimeFormat::bars) {
        BeatGrid grid;
        grid.tempo = std::isfinite(session_.tempo) ? std::clamp(session_.tempo, 20.0, 300.0) : 120.0;
        grid.beatsPerBar = std::clamp<std::int64_t>(session_.beatsPerBar, 1, 16);
        consider(grid.nearestBeat(base));
    }
    return bestDistance < tol - kSnapSlack ? best : base;
}

}  // namespace tessoral
