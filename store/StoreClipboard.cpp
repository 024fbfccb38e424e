// Clipboard, selection and markers: copy, cut and paste of audio (the store's own clipboard, not
// the desktop's), the quick selection commands, the master gain and the project's markers.

#include <algorithm>
#include <cmath>

#include "model/Automation.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/UnicodeText.h"
#include "processing/AudioEdits.h"
#include "store/StudioStore.h"

namespace tessoral {

void StudioStore::copy(bool cut) {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    if (cut && spectralView_ && hasSpectralSelection()) {
        setError(L("Вырезать можно только фрагмент по времени. Чтобы убрать выделенную область спектра, нажмите Delete."));
        return;
    }
    const Track& clip = session_.tracks[*index];
    const FrameRange range = clip.framesIn(selection_);
    if (range.empty()) return;
    const bool wholeClip = range.count() >= clip.frames();
    setClipboard(clip.audio.slice(range));
    if (!cut) {
        setStatus(L("Фрагмент скопирован"));
        return;
    }
    if (wholeClip)
        removeClip();
    else
        edit(EditAction::delete_);
}

void StudioStore::paste() {
    if (locked() || !clipboard_) return;
    const AudioData inserted = *clipboard_;
    if (session_.bytes() + inserted.bytes() > limits::kMaxBytes) {
        setError(L("Недостаточно памяти проекта."));
        return;
    }
    stop();

    try {
        if (const auto index = selectedIndex()) {
            // Into the selected clip, at the cursor.
            const Track& clip = session_.tracks[*index];
            const std::int64_t at = std::clamp<std::int64_t>(secondsToFrames(cursor_ - clip.start), 0, clip.frames());
            AudioData audio = AudioEdits::paste(inserted, clip.audio, at);
            if (clip.start + framesToSeconds(audio.frames()) > limits::kMaxSeconds)
                throw StudioError(L("Длина проекта ограничена 8 минутами."));
            const double insertedAt = framesToSeconds(at);
            const double insertedLength = framesToSeconds(inserted.frames());
            refreshClip(*index, L("Вставка"), RefreshedAudio::of(std::move(audio)), [&](Track& changed) {
                // Later envelope points move with the material; the level at the insertion is held over it.
                const TimeRange point{insertedAt, insertedAt};
                changed.volumeEnvelope = Automation::replacing(changed.volumeEnvelope, point, insertedLength);
                changed.panEnvelope = Automation::replacing(changed.panEnvelope, point, insertedLength);
            });
        } else {
            // As a new clip on the selected row, or on a new row.
            const std::optional<Uuid> lane =
                session_.laneIndex(selectedLaneID_) ? selectedLaneID_ : std::optional<Uuid>();
            Session changed = session_;
            const Uuid id = changed.pasteClip(inserted, L("Фрагмент"), lane, cursor_);
            checkpoint(L("Вставка"));
            setSession(std::move(changed));
            setSelectedID(id);
        }
    } catch (...) {
        setError(describe(std::current_exception()));
        return;
    }
    setSelection(std::nullopt);
    setStatus(L("Фрагмент вставлен"));
}

void StudioStore::setMaster(double dB) {
    if (locked()) return;
    stop();
    checkpoint(L("Громкость микса"));
    Session changed = session_;
    changed.masterDB = dB;  // the controls keep it in their range
    setSession(std::move(changed));
}

void StudioStore::selectAll() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    const double start = clip.start;
    setSelection(TimeRange{start, clip.end()});
    setCursor(start);
}

void StudioStore::setSelectionBoundary(std::optional<double> start, std::optional<double> end) {
    if (locked()) return;
    stop();
    const double lo = selection_ ? selection_->lower : cursor_;
    const double hi = selection_ ? selection_->upper : cursor_;
    const double duration = session_.duration();
    const auto inside = [duration](double t) { return std::isnan(t) ? 0.0 : std::clamp(t, 0.0, duration); };
    const double a = inside(start.value_or(lo));
    const double b = inside(end.value_or(hi));
    setSelection(TimeRange{std::min(a, b), std::max(a, b)});
    setCursor(std::min(a, b));
}

void StudioStore::addMarker() {
    if (locked() || session_.tracks.empty() ||
        session_.markers.size() >= static_cast<std::size_t>(limits::kMaxMarkers))
        return;
    SessionMarker marker;
    if (!transport_->playing() && selection_) {
        marker.start = selection_->lower;
        marker.end = selection_->upper;
    } else {
        marker.start = transport_->playing() ? transport_->position() : cursor_;
    }
    checkpoint(L("Добавление маркера"));  // playback goes on
    marker.name = L("Маркер {0}", session_.markers.size() + 1);
    const double start = marker.start;

    Session changed = session_;
    changed.markers.push_back(std::move(marker));
    setSession(std::move(changed));
    changed = session_;
    std::stable_sort(changed.markers.begin(), changed.markers.end(),
                     [](const SessionMarker& a, const SessionMarker& b) { return a.start < b.start; });
    setSession(std::move(changed));
    setStatus(L("Маркер: {0}", timeLabel(start)));
}

void StudioStore::renameMarker(const Uuid& id, const std::string& name) {
    if (locked()) return;
    if (UnicodeText::trimmingWhitespace(name).empty()) return;
    const auto found = std::find_if(session_.markers.begin(), session_.markers.end(),
                                    [&](const SessionMarker& m) { return m.id == id; });
    if (found == session_.markers.end() || found->name == name) return;
    const auto index = static_cast<std::size_t>(found - session_.markers.begin());
    checkpoint(L("Название маркера"));
    Session changed = session_;
    changed.markers[index].name = name;
    setSession(std::move(changed));
}

void StudioStore::removeMarker(const Uuid& id) {
    if (locked()) return;
    checkpoint(L("Удаление маркера"));
    Session changed = session_;
    std::erase_if(changed.markers, [&](const SessionMarker& m) { return m.id == id; });
    setSession(std::move(changed));
}

void StudioStore::goToMarker(const SessionMarker& marker) {
    if (locked()) return;
    stop();
    const double duration = session_.duration();
    const double start = std::min(marker.start, duration);
    setCursor(start);
    if (marker.end)
        setSelection(TimeRange{start, std::min(*marker.end, duration)});
    else
        setSelection(std::nullopt);
}

}  // namespace tessoral
