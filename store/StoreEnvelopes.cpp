// Live editing of a clip's fades and of its volume and pan envelopes (one undo step per gesture),
// and the undoable fade and envelope commands of the fade handles and the clip automation menu.

#include <algorithm>
#include <cmath>

#include "model/Automation.h"
#include "model/Localization.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

Envelope& chosenEnvelope(Track& clip, bool pan) { return pan ? clip.panEnvelope : clip.volumeEnvelope; }

Automation::ValueRange valueRange(bool pan) { return pan ? Automation::kPanRange : Automation::kVolumeRange; }

}  // namespace

template <class F>
void StudioStore::changeTrackLive(const Uuid& id, F&& mutation) {
    const auto index = session_.trackIndex(id);
    if (!index) return;
    // Live steps come at pointer rate: the project is edited in place rather than copied.
    Session changed = std::move(session_);
    try {
        mutation(changed.tracks[*index]);
    } catch (...) {
        session_ = std::move(changed);
        throw;
    }
    setSession(std::move(changed));
}

// ---- the gesture ----

void StudioStore::beginAutomationEdit(const std::string& name) {
    if (locked()) return;
    stop();
    checkpoint(name);
}

void StudioStore::setFadeLive(const Uuid& id, std::optional<double> fadeIn, std::optional<double> fadeOut) {
    changeTrackLive(id, [&](Track& clip) { clip.setFade(fadeIn, fadeOut); });
}

std::optional<std::size_t> StudioStore::insertEnvelopePoint(const Uuid& id, bool pan, double time, double value) {
    if (!session_.track(id)) return std::nullopt;
    std::optional<std::size_t> inserted;
    changeTrackLive(id, [&](Track& clip) {
        const double length = clip.duration();
        const double t = std::isnan(time) ? 0.0 : std::min(std::max(time, 0.0), length);
        const auto range = valueRange(pan);
        const double v = std::isnan(value) ? range.lower : std::min(std::max(value, range.lower), range.upper);
        inserted = Automation::insert(AutomationPoint{t, v}, chosenEnvelope(clip, pan));
    });
    return inserted;
}

void StudioStore::moveEnvelopePoint(const Uuid& id, bool pan, std::int64_t index, double time, double value) {
    changeTrackLive(id, [&](Track& clip) {
        Envelope& points = chosenEnvelope(clip, pan);
        const auto count = static_cast<std::int64_t>(points.size());
        if (index < 0 || index >= count || !std::isfinite(time) || !std::isfinite(value)) return;
        const auto i = static_cast<std::size_t>(index);
        const double lower = i > 0 ? points[i - 1].time : 0.0;
        const double upper = index + 1 < count ? points[i + 1].time : clip.duration();
        // Never across a neighbour, never before 0 or past the clip's end; with neighbours out
        // of order the point takes the earlier neighbour's time.
        const double t = std::min(std::max(lower, upper), std::max(lower, time));
        const auto range = valueRange(pan);
        points[i] = AutomationPoint{t, std::clamp(value, range.lower, range.upper)};
    });
}

// ---- undoable commands ----

void StudioStore::deleteEnvelopePoint(const Uuid& id, bool pan, std::int64_t index) {
    const Track* clip = session_.track(id);
    if (!clip) return;
    const auto count = static_cast<std::int64_t>((pan ? clip->panEnvelope : clip->volumeEnvelope).size());
    if (index < 0 || index >= count) return;
    changeTrack(id, L("Удаление точки огибающей"), [pan, index](Track& t) {
        Envelope& points = chosenEnvelope(t, pan);
        if (index < static_cast<std::int64_t>(points.size())) points.erase(points.begin() + index);
    });
}

void StudioStore::setFadeCurve(const Uuid& id, bool fadeIn, FadeCurve curve) {
    changeTrack(id, L("Форма фейда"), [fadeIn, curve](Track& t) { (fadeIn ? t.fadeInCurve : t.fadeOutCurve) = curve; });
}

void StudioStore::removeFade(const Uuid& id, bool fadeIn) {
    changeTrack(id, L("Удаление фейда"), [fadeIn](Track& t) { (fadeIn ? t.fadeIn : t.fadeOut) = 0.0; });
}

void StudioStore::removeFades(const Uuid& id) {
    changeTrack(id, L("Удаление фейдов"), [](Track& t) {
        t.fadeIn = 0.0;
        t.fadeOut = 0.0;
    });
}

void StudioStore::clearEnvelopes(const Uuid& id) {
    const bool cleared = tookStep([&] {
        changeTrack(id, L("Очистка огибающих"), [](Track& t) {
            t.volumeEnvelope.clear();
            t.panEnvelope.clear();
        });
    });
    // Only a change that happened is reported.
    if (cleared) setStatus(L("Огибающие очищены"));
}

}  // namespace tessoral
