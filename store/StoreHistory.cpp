// Undo history, selection validation and the one-clip / one-row edit helpers.

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "model/Limits.h"
#include "model/Localization.h"
#include "store/StudioStore.h"

namespace tessoral {

std::int64_t StudioStore::historyBytes(const std::deque<HistoryEntry>& stack) {
    // What memory holds for the snapshots: every sample buffer once, however many snapshots,
    // clips or channels share it. A step that changes no audio (a marker, a move, a gain) adds
    // nothing; a step that writes samples adds its new buffers.
    std::vector<std::pair<const float*, std::size_t>> buffers;
    std::size_t clips = 0;
    for (const auto& entry : stack) clips += entry.session.tracks.size();
    buffers.reserve(2 * clips);  // two channels a clip; handles are rarer
    auto add = [&buffers](const SharedArray<float>& channel) {
        if (!channel.empty()) buffers.emplace_back(channel.data(), channel.size());
    };
    auto addAudio = [&add](const AudioData& audio) {
        add(audio.left);
        add(audio.right);
    };
    for (const auto& entry : stack)
        for (const auto& clip : entry.session.tracks) {
            addAudio(clip.audio);
            if (clip.headHandle) addAudio(*clip.headHandle);
            if (clip.tailHandle) addAudio(*clip.tailHandle);
        }
    std::sort(buffers.begin(), buffers.end());
    buffers.erase(std::unique(buffers.begin(), buffers.end()), buffers.end());
    std::int64_t total = 0;
    for (const auto& buffer : buffers) total += static_cast<std::int64_t>(buffer.second * sizeof(float));
    return total;
}

void StudioStore::checkpoint(const std::string& name) {
    undoStack_.push_back(HistoryEntry{session_, name});
    if (undoStack_.size() > kUndoLimit) {
        undoStack_.pop_front();
        historyShortened_ = true;
    }
    // The audio the snapshots keep alive; the step just taken always stays.
    while (undoStack_.size() >= 2 && historyBytes(undoStack_) > kUndoMemoryBytes) {
        undoStack_.pop_front();
        historyShortened_ = true;
    }
    redoStack_.clear();
    syncHistory();
    setDirty(true);
    ++editCounter_;
}

void StudioStore::undo() {
    if (locked() || undoStack_.empty()) return;
    HistoryEntry entry = std::move(undoStack_.back());
    undoStack_.pop_back();
    stop();
    redoStack_.push_back(HistoryEntry{session_, entry.name});
    setSession(std::move(entry.session));
    syncHistory();
    validateSelection();
    setDirty(true);
    setStatus(L("Отменено: {0}", entry.name));
    ++editCounter_;
}

void StudioStore::redo() {
    if (locked() || redoStack_.empty()) return;
    HistoryEntry entry = std::move(redoStack_.back());
    redoStack_.pop_back();
    stop();
    undoStack_.push_back(HistoryEntry{session_, entry.name});
    setSession(std::move(entry.session));
    syncHistory();
    validateSelection();
    setDirty(true);
    setStatus(L("Повторено: {0}", entry.name));
    ++editCounter_;
}

void StudioStore::syncHistory() {
    std::vector<std::string> undoNames;
    undoNames.reserve(undoStack_.size());
    for (const auto& entry : undoStack_) undoNames.push_back(entry.name);
    std::vector<std::string> redoNames;
    redoNames.reserve(redoStack_.size());
    for (const auto& entry : redoStack_) redoNames.push_back(entry.name);
    setUndoNames(std::move(undoNames));
    setRedoNames(std::move(redoNames));
}

void StudioStore::clearHistory() {
    undoStack_.clear();
    redoStack_.clear();
    historyShortened_ = false;
    syncHistory();
}

void StudioStore::validateSelection() {
    // 1. The selected row must exist.
    if (!session_.laneIndex(selectedLaneID_)) setSelectedLaneID(std::nullopt);
    // 2. The selected clip must exist; otherwise the row's clip at the cursor, or the first clip.
    if (!selectedIndex()) {
        if (selectedLaneID_) {
            const Track* clip = session_.clipNear(*selectedLaneID_, cursor_);
            setSelectedID(clip ? std::optional<Uuid>(clip->id) : std::nullopt);
        } else {
            setSelectedID(session_.tracks.empty() ? std::nullopt : std::optional<Uuid>(session_.tracks.front().id));
        }
    }
    // 3. With nothing selected, the first row.
    if (!selectedID_ && !selectedLaneID_ && !session_.lanes.empty()) setSelectedLaneID(session_.lanes.front().id);
    // 4. The cursor stays inside the project (a negative cursor is left alone).
    setCursor(std::min(cursor_, session_.duration()));
    // 5. The time selection is always cleared.
    setSelection(std::nullopt);
    // 6. Spectrograms of clips that are gone.
    bool stale = false;
    for (const auto& [id, entry] : spectrograms_)
        if (!session_.track(id)) stale = true;
    if (stale) {
        auto kept = spectrograms_;
        std::erase_if(kept, [this](const auto& item) { return session_.track(item.first) == nullptr; });
        setSpectrograms(std::move(kept));
    }
}

void StudioStore::changeTrack(const Uuid& idRef, const std::string& nameRef,
                              const std::function<void(Track&)>& mutation) {
    // Callers may pass an id or name that lives inside the session, which setSession replaces.
    const Uuid id = idRef;
    const std::string name = nameRef;
    if (locked()) return;
    if (!session_.trackIndex(id)) return;
    stop();
    checkpoint(name);
    Session changed = session_;
    Track& clip = changed.tracks[*changed.trackIndex(id)];
    mutation(clip);
    setSession(std::move(changed));
    // The session observer may have replaced the value; find the clip again.
    const auto index = session_.trackIndex(id);
    if (!index) return;
    changed = session_;
    Track& placed = changed.tracks[*index];
    const double length = placed.duration();
    double start = std::min(placed.start, limits::kMaxSeconds - length);
    if (!(start >= 0.0)) start = 0.0;  // below 0 or NaN
    placed.start = start;
    setSession(std::move(changed));
}

void StudioStore::changeLane(const Uuid& idRef, const std::string& nameRef,
                             const std::function<void(Lane&)>& mutation) {
    const Uuid id = idRef;
    const std::string name = nameRef;
    if (locked()) return;
    if (!session_.laneIndex(id)) return;
    stop();
    checkpoint(name);
    Session changed = session_;
    mutation(changed.lanes[*changed.laneIndex(id)]);
    setSession(std::move(changed));
    const auto index = session_.laneIndex(id);
    if (!index) return;
    changed = session_;
    Lane& row = changed.lanes[*index];
    row.gainDB = std::isfinite(row.gainDB) ? std::clamp(row.gainDB, -60.0, 12.0) : 0.0;
    setSession(changed);
    changed = session_;
    Lane& row2 = changed.lanes[*index];
    row2.pan = std::isfinite(row2.pan) ? std::clamp(row2.pan, -1.0, 1.0) : 0.0;
    setSession(std::move(changed));
}

}  // namespace tessoral
