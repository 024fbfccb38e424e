// Clip-edge trimming, track row reordering, row colours and the automatic-crossfade switch.

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/Limits.h"
#include "model/Localization.h"
#include "store/StudioStore.h"

namespace tessoral {

// ---- the trim gesture: previewed in `trimDrag`, applied as one step when it ends ----

void StudioStore::beginTrim(const Uuid& id, ClipEdge edge) {
    if (locked() || trimDrag_) return;
    if (!session_.track(id)) return;
    stop();
    setSelectedID(id);
    const Track* clip = session_.track(id);
    if (!clip) return;
    const TimeRange span{clip->start, clip->end()};
    setTrimDrag(TrimDrag{id, edge, span, 0, span});
}

void StudioStore::dragTrim(const Uuid& id, double by) {
    if (!trimDrag_ || trimDrag_->id != id) return;
    const Track* clip = session_.track(id);
    if (!clip) return;
    const ClipEdge edge = trimDrag_->edge;

    std::int64_t frames = 0;
    if (std::isfinite(by) && by != 0.0) {
        const double edgeTime = edge == ClipEdge::start ? clip->start : clip->end();
        const double proposed = edgeTime + by;
        double chosen = snapped(proposed, id);
        // A snap point behind the edge (against the pointer's motion) is ignored.
        if (by * (chosen - edgeTime) < 0.0) chosen = proposed;
        std::int64_t delta = secondsToFrames(chosen - edgeTime);
        if (edge == ClipEdge::end) delta = delta == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max() : -delta;
        const Track::TrimLimits limits = clip->trimLimits(edge);
        frames = std::clamp(delta, limits.lower, limits.upper);
    }
    if (frames == trimDrag_->frames) return;
    TrimDrag preview = *trimDrag_;
    preview.frames = frames;
    preview.span = clip->trimmedSpan(edge, frames);
    setTrimDrag(preview);
}

void StudioStore::endTrim() {
    if (!trimDrag_) return;
    const TrimDrag drag = *trimDrag_;
    setTrimDrag(std::nullopt);
    // A trim released after a recording or a long command began is dropped: the project must
    // not change under them.
    if (locked()) return;
    if (drag.frames == 0) return;
    const auto index = session_.trackIndex(drag.id);
    if (!index) return;
    checkpoint(L("Обрезка клипа"));
    Session changed = session_;
    const auto placed = changed.trackIndex(drag.id);
    if (!placed) return;
    Track& clip = changed.tracks[*placed];
    clip.trim(drag.edge, drag.frames);
    const std::string from = timeLabel(clip.start);
    const std::string to = timeLabel(clip.end());
    setSession(std::move(changed));
    setStatus(L("Клип обрезан: {0} – {1}", from, to));
}

// ---- the row drag: one step when it begins, each move relative to the starting index ----

void StudioStore::beginLaneDrag(const Uuid& id) {
    if (locked() || laneDragOrigin_) return;
    const auto index = session_.laneIndex(id);
    if (!index) return;
    stop();
    checkpoint(L("Порядок дорожек"));
    setLaneDragOrigin(LaneDragOrigin{id, static_cast<std::int64_t>(*index)});
}

void StudioStore::dragLane(const Uuid& id, double dy, double rowHeight) {
    if (!laneDragOrigin_ || laneDragOrigin_->id != id) return;
    const auto rows = static_cast<std::int64_t>(session_.lanes.size());
    std::int64_t target = 0;
    if (rows > 0) {
        const std::int64_t offset = std::clamp<std::int64_t>(LaneLayout::laneOffset(dy, rowHeight), -rows, rows);
        target = std::clamp<std::int64_t>(laneDragOrigin_->index + offset, 0, rows - 1);
    }
    Session changed = std::move(session_);  // a live step: edited in place
    changed.moveLane(id, target);
    setSession(std::move(changed));
}

// ---- menu moves ----

bool StudioStore::canMoveLane(const std::optional<Uuid>& id, std::int64_t offset) const {
    if (locked()) return false;
    const auto index = session_.laneIndex(id);
    if (!index) return false;
    const auto rows = static_cast<std::int64_t>(session_.lanes.size());
    const std::int64_t bounded = std::clamp<std::int64_t>(offset, -rows - 1, rows + 1);
    const std::int64_t target = static_cast<std::int64_t>(*index) + bounded;
    return target >= 0 && target < rows;
}

void StudioStore::moveSelectedLane(std::int64_t offset) {
    if (!selectedLaneID_ || !canMoveLane(selectedLaneID_, offset)) return;
    const Uuid id = *selectedLaneID_;
    moveLane(id, static_cast<std::int64_t>(*session_.laneIndex(id)) + offset);
}

void StudioStore::moveLane(const Uuid& idRef, std::int64_t index) {
    const Uuid id = idRef;  // read again after the project is replaced
    if (locked()) return;
    const auto from = session_.laneIndex(id);
    if (!from) return;
    const auto rows = static_cast<std::int64_t>(session_.lanes.size());
    if (std::clamp<std::int64_t>(index, 0, rows - 1) == static_cast<std::int64_t>(*from)) return;
    stop();
    checkpoint(L("Порядок дорожек"));
    Session changed = session_;
    changed.moveLane(id, index);
    setSession(std::move(changed));
    const auto now = session_.laneIndex(id);
    setStatus(L("Дорожка «{0}» перемещена", now ? session_.lanes[*now].name : std::string()));
}

// ---- row colour and automatic crossfades ----

void StudioStore::setLaneColor(const Uuid& id, std::int64_t color) {
    if (locked()) return;
    const auto index = session_.laneIndex(id);
    if (!index) return;
    const std::int64_t n = color & (limits::kPaletteSize - 1);
    bool unchanged = session_.lanes[*index].color == n;
    for (const auto& clip : session_.tracks)
        if (clip.laneID == id && clip.color != n) unchanged = false;
    if (unchanged) return;
    stop();
    checkpoint(L("Цвет дорожки"));
    Session changed = session_;
    changed.lanes[*changed.laneIndex(id)].color = n;
    for (auto& clip : changed.tracks)
        if (clip.laneID == id) clip.color = n;
    setSession(std::move(changed));
}

void StudioStore::toggleAutoCrossfade() {
    if (locked()) return;
    stop();
    checkpoint(L("Автоматический кроссфейд"));
    Session changed = session_;
    changed.autoCrossfade = !changed.autoCrossfade;
    const bool on = changed.autoCrossfade;
    setSession(std::move(changed));
    setStatus(on ? L("Автоматический кроссфейд включён") : L("Автоматический кроссфейд выключен"));
}

}  // namespace tessoral
