// Auto-duck: one clip's volume envelope lowered wherever speech plays on the voice clips.

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "model/AutoDuck.h"
#include "model/Localization.h"
#include "store/StudioStore.h"

namespace tessoral {

AutoDuck::VoiceSource StudioStore::voiceSource(const Track& clip) const {
    const Lane* row = session_.lane(clip);
    return AutoDuck::VoiceSource{clip.audio, clip.start, clip.gainDB + (row ? row->gainDB : 0.0)};
}

void StudioStore::autoDuck(const Uuid& trackID, const std::optional<std::vector<Uuid>>& voiceTrackIDs,
                           const AutoDuckSettings& settings) {
    if (locked()) return;
    const Track* target = session_.track(trackID);
    if (!target) return;
    std::vector<AutoDuck::VoiceSource> voices;
    for (const Track& clip : session_.tracks) {
        if (clip.id == trackID) continue;
        if (const Lane* row = session_.lane(clip); row && row->muted) continue;
        if (voiceTrackIDs) {
            if (std::find(voiceTrackIDs->begin(), voiceTrackIDs->end(), clip.id) == voiceTrackIDs->end()) continue;
        } else if (clip.muted || clip.laneID == target->laneID) {
            continue;
        }
        voices.push_back(voiceSource(clip));
    }
    if (voices.empty()) {
        setError(L("Нет дорожек с речью для автоприглушения."));
        return;
    }
    stop();
    const double start = target->start;
    const double duration = target->duration();
    std::function<Envelope()> work = [voices = std::move(voices), settings, start, duration] {
        const auto regions = AutoDuck::speechRegions(voices, settings.thresholdDB, settings.holdMS / 1000.0);
        return AutoDuck::keyframes(regions, start, duration, settings);
    };
    std::function<void(Envelope&&)> apply = [this, trackID](Envelope&& points) {
        const auto index = session_.trackIndex(trackID);
        if (!index) return;
        if (points.empty()) {
            setStatus(L("Речь под дорожкой не найдена"));
            return;
        }
        const auto count = static_cast<long long>(points.size());
        checkpoint(L("Автоприглушение"));
        Session changed = session_;
        changed.tracks[*index].volumeEnvelope = std::move(points);
        setSession(std::move(changed));
        setShowEnvelopes(true);
        setStatus(LP(count, "Автоприглушение: {0} точка громкости|Автоприглушение: {0} точки громкости|"
                            "Автоприглушение: {0} точек громкости"));
    };
    runLong<Envelope>(L("Поиск речи…"), std::move(work), std::move(apply));
}

}  // namespace tessoral
