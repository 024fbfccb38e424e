// Clip and track row commands: rows added, copied and removed; clips split, copied and removed;
// the editor mode; and the clip inspector's and row header's fields as named one-step edits.

#include <algorithm>
#include <cmath>

#include "model/Limits.h"
#include "model/Localization.h"
#include "model/UnicodeText.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// The ranges a project file accepts for a clip's own gain and pan.
constexpr double kClipGainLow = -60.0;
constexpr double kClipGainHigh = 24.0;

std::string trimmedName(const std::string& text) { return UnicodeText::trimmingWhitespaceAndNewlines(text); }

}  // namespace

bool StudioStore::tookStep(const std::function<void()>& command) {
    const std::int64_t before = editCounter_;
    command();
    return editCounter_ != before;
}

// ---- track rows ----

void StudioStore::newLane() {
    if (locked()) return;
    const auto count = static_cast<std::int64_t>(session_.lanes.size());
    if (count >= limits::kMaxLanes) {
        setError(L("Можно добавить до {0} дорожек.", limits::kMaxLanes));
        return;
    }
    stop();
    checkpoint(L("Новая дорожка"));
    Session changed = session_;
    Lane row;
    row.name = L("Дорожка {0}", count + 1);
    row.color = count % limits::kPaletteSize;
    const Uuid rowID = row.id;
    auto position = static_cast<std::int64_t>(changed.lanes.size());
    if (const auto selected = changed.laneIndex(selectedLaneID_))
        position = std::clamp<std::int64_t>(static_cast<std::int64_t>(*selected) + 1, 0, count);
    changed.lanes.insert(changed.lanes.begin() + position, std::move(row));
    setSession(std::move(changed));
    setSelectedID(std::nullopt);
    setSelectedLaneID(rowID);
    setSelection(std::nullopt);
    setStatus(L("Добавлена пустая дорожка"));
}

void StudioStore::duplicateLane() {
    if (locked()) return;
    const auto index = session_.laneIndex(selectedLaneID_);
    if (!index) return;
    const Uuid sourceID = session_.lanes[*index].id;

    std::vector<Uuid> sourceClips;
    std::int64_t addedBytes = 0;
    for (const Track* clip : session_.clipsInLane(sourceID)) {
        sourceClips.push_back(clip->id);
        addedBytes += clip->bytes();
    }
    if (session_.lanes.size() >= static_cast<std::size_t>(limits::kMaxLanes) ||
        session_.tracks.size() + sourceClips.size() > static_cast<std::size_t>(limits::kMaxClips)) {
        setError(L("Достигнут предел проекта: {0} дорожек и {1} клипов.", limits::kMaxLanes, limits::kMaxClips));
        return;
    }
    if (session_.bytes() + addedBytes > limits::kMaxBytes) {
        setError(L("Недостаточно памяти проекта."));
        return;
    }

    stop();
    checkpoint(L("Копия дорожки"));
    Session changed = session_;
    const auto copyID = changed.duplicateLane(sourceID);
    setSession(std::move(changed));
    if (!copyID) return;

    // The copy's clip at the position the selected clip had among the source row's clips.
    std::optional<std::size_t> position;
    for (std::size_t k = 0; k < sourceClips.size(); ++k)
        if (selectedID_ && sourceClips[k] == *selectedID_) position = k;
    const auto copies = session_.clipsInLane(*copyID);
    std::optional<Uuid> chosen;
    if (position && *position < copies.size())
        chosen = copies[*position]->id;
    else if (!copies.empty())
        chosen = copies.front()->id;
    setSelectedID(chosen);
    setSelectedLaneID(*copyID);
    setStatus(L("Дорожка скопирована"));
}

void StudioStore::removeLane() {
    if (locked()) return;
    const auto index = session_.laneIndex(selectedLaneID_);
    if (!index) return;
    stop();
    checkpoint(L("Удаление дорожки"));
    const Lane removed = session_.lanes[*index];

    Session changed = session_;
    changed.lanes.erase(changed.lanes.begin() + static_cast<std::ptrdiff_t>(*index));
    std::erase_if(changed.tracks, [&](const Track& t) { return t.laneID == removed.id; });
    setSession(std::move(changed));

    setSelectedID(std::nullopt);
    if (*index < session_.lanes.size())
        setSelectedLaneID(session_.lanes[*index].id);
    else if (!session_.lanes.empty())
        setSelectedLaneID(session_.lanes.back().id);
    else
        setSelectedLaneID(std::nullopt);
    if (selectedLaneID_) {
        const Track* clip = session_.clipNear(*selectedLaneID_, cursor_);
        setSelectedID(clip ? std::optional<Uuid>(clip->id) : std::nullopt);
    }
    validateSelection();
    setStatus(L("Дорожка «{0}» удалена", removed.name));
}

void StudioStore::selectLane(const Uuid& id, bool clip) {
    if (!session_.laneIndex(id)) return;
    const auto selected = selectedIndex();
    const bool onRow = selected && session_.tracks[*selected].laneID == id;
    if (!onRow) {
        std::optional<Uuid> chosen;
        if (clip)
            if (const Track* near = session_.clipNear(id, playhead())) chosen = near->id;
        setSelectedID(chosen);
    }
    setSelectedLaneID(id);
}

// ---- clips ----

void StudioStore::split() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    if (session_.tracks.size() >= static_cast<std::size_t>(limits::kMaxClips)) {
        setError(L("В проекте может быть до {0} клипов.", limits::kMaxClips));
        return;
    }
    const Track& clip = session_.tracks[*index];
    const std::int64_t frame = secondsToFrames(cursor_ - clip.start);
    if (!(frame > 0 && frame < clip.frames())) {
        setError(L("Поставьте курсор внутри клипа."));
        return;
    }
    const Uuid clipID = clip.id;
    stop();
    checkpoint(L("Разделение"));
    Session changed = session_;
    const auto rightID = changed.splitClip(clipID, frame);
    setSession(std::move(changed));
    if (!rightID) return;
    setSelectedID(*rightID);
    setSelection(std::nullopt);
    setStatus(L("Клип разделён"));
}

void StudioStore::duplicateClip() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    if (session_.tracks.size() >= static_cast<std::size_t>(limits::kMaxClips)) {
        setError(L("В проекте может быть до {0} клипов.", limits::kMaxClips));
        return;
    }
    if (session_.bytes() + session_.tracks[*index].bytes() > limits::kMaxBytes) {
        setError(L("Недостаточно памяти проекта."));
        return;
    }
    const Uuid clipID = session_.tracks[*index].id;
    stop();
    checkpoint(L("Копия клипа"));
    Session changed = session_;
    const auto copyID = changed.duplicateClip(clipID);
    setSession(std::move(changed));
    if (!copyID) return;
    setSelectedID(*copyID);
    setSelection(std::nullopt);
    setStatus(L("Клип скопирован"));
}

void StudioStore::removeClip() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    stop();
    checkpoint(L("Удаление клипа"));
    const std::optional<Uuid> row = session_.tracks[*index].laneID;
    Session changed = session_;
    changed.tracks.erase(changed.tracks.begin() + static_cast<std::ptrdiff_t>(*index));
    setSession(std::move(changed));  // the row stays, also when it is empty now
    setSelectedID(std::nullopt);
    setSelectedLaneID(row);
    validateSelection();
    setSelectedID(std::nullopt);
    setStatus(L("Клип удалён"));
}

void StudioStore::switchMode(EditorMode mode) {
    if (locked()) return;
    stop();
    setEditorMode(mode);
    switch (mode) {
        case EditorMode::waveform:
            setTimelineTool(TimelineTool::select);
            if (const auto index = selectedIndex()) {
                const Track& clip = session_.tracks[*index];
                setCursor(std::min(std::max(cursor_, clip.start), clip.end()));
                setSelection(std::nullopt);
            }
            break;
        case EditorMode::multitrack:
            setTimelineTool(TimelineTool::move);
            break;
        case EditorMode::mixer:
            break;
    }
}

// ---- the clip inspector ----

void StudioStore::setClipStart(const Uuid& id, double start) {
    // changeTrack keeps the clip inside 0…480 s (a start that is not a number becomes 0).
    changeTrack(id, L("Сдвиг клипа"), [start](Track& t) { t.start = start; });
}

void StudioStore::setClipGain(const Uuid& id, double gainDB) {
    if (!std::isfinite(gainDB)) return;
    const double value = std::clamp(gainDB, kClipGainLow, kClipGainHigh);
    changeTrack(id, L("Громкость клипа"), [value](Track& t) { t.gainDB = value; });
}

void StudioStore::setClipPan(const Uuid& id, double pan) {
    if (!std::isfinite(pan)) return;
    const double value = std::clamp(pan, -1.0, 1.0);
    changeTrack(id, L("Панорама клипа"), [value](Track& t) { t.pan = value; });
}

void StudioStore::setClipMuted(const Uuid& id, bool muted) {
    changeTrack(id, muted ? L("Выключение клипа") : L("Включение клипа"), [muted](Track& t) { t.muted = muted; });
}

void StudioStore::renameClip(const Uuid& id, const std::string& name) {
    const Track* clip = session_.track(id);
    if (!clip) return;
    std::string value = trimmedName(name);
    if (value.empty() || value == clip->name) return;
    changeTrack(id, L("Название клипа"), [&value](Track& t) { t.name = value; });
}

// ---- the row header and mixer strip ----

void StudioStore::toggleLaneMute(const Uuid& id) {
    changeLane(id, L("Выключение дорожки"), [](Lane& l) { l.muted = !l.muted; });
}

void StudioStore::toggleLaneSolo(const Uuid& id) {
    changeLane(id, L("Соло"), [](Lane& l) { l.solo = !l.solo; });
}

void StudioStore::setLanePan(const Uuid& id, double pan) {
    changeLane(id, L("Панорама дорожки"), [pan](Lane& l) { l.pan = pan; });
}

void StudioStore::setLaneGain(const Uuid& id, double gainDB) {
    changeLane(id, L("Громкость дорожки"), [gainDB](Lane& l) { l.gainDB = gainDB; });
}

void StudioStore::renameLane(const Uuid& id, const std::string& name) {
    const auto index = session_.laneIndex(id);
    if (!index) return;
    std::string value = trimmedName(name);
    if (value.empty() || value == session_.lanes[*index].name) return;
    changeLane(id, L("Название дорожки"), [&value](Lane& l) { l.name = value; });
}

}  // namespace tessoral
