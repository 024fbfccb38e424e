// Loudness matching: the clips measured by the matching sheet reach a target either by their
// gain or by audio rendered through their racks and normalised, as one undo step.

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "model/Localization.h"
#include "processing/Loudness.h"
#include "processing/LoudnessMatch.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// One 400 ms loudness measuring block.
constexpr std::int64_t kLoudnessBlockFrames = 19200;

// Whether the measurement can bring the clip to the target: a finite sample peak for the peak
// target, an integrated loudness of at least one measuring block for the others.
bool usable(const LoudnessMeasurement& measurement, const Track& clip, LoudnessTarget target) {
    switch (target) {
        case LoudnessTarget::none: return false;
        case LoudnessTarget::peak: return std::isfinite(measurement.samplePeak);
        default: return measurement.lufs.has_value() && clip.frames() >= kLoudnessBlockFrames;
    }
}

// The clip is still what was measured (or captured): same audio, same rack, same bypass.
bool unchanged(const Track& clip, const Uuid& revision, const std::vector<EffectSlot>& rack, bool bypassed) {
    return clip.revision == revision && clip.rack == rack && clip.rackBypassed == bypassed;
}

bool hasActiveSlot(const Track& clip) {
    if (clip.rackBypassed) return false;
    for (const EffectSlot& slot : clip.rack)
        if (slot.enabled && slot.wet > 0.0) return true;
    return false;
}

// One processed clip: the clip as captured, and the clip as it becomes (caches made on the worker).
struct MatchedClip {
    Track captured;
    Track processed;
};

}  // namespace

void StudioStore::matchLoudness(const std::map<Uuid, LoudnessMatch::Entry>& entries, LoudnessTarget target,
                                bool processAudio) {
    if (locked() || target == LoudnessTarget::none) return;
    std::vector<std::pair<const Track*, const LoudnessMatch::Entry*>> qualifying;
    for (const Track& clip : session_.tracks) {
        const auto found = entries.find(clip.id);
        if (found == entries.end()) continue;
        const LoudnessMatch::Entry& entry = found->second;
        if (entry.id != clip.id || !unchanged(clip, entry.revision, entry.rack, entry.bypassed)) continue;
        if (!usable(entry.measurement, clip, target)) continue;
        qualifying.emplace_back(&clip, &entry);
    }
    if (qualifying.empty()) {
        setError(L("Нет дорожек со звуком для сопоставления громкости."));
        return;
    }
    stop();
    setShowMatchLoudness(false);
    const std::string targetTitle = tessoral::title(target);

    if (!processAudio) {
        std::vector<std::pair<Uuid, LoudnessMeasurement>> measured;
        for (const auto& [clip, entry] : qualifying) measured.emplace_back(clip->id, entry->measurement);
        checkpoint(L("Сопоставление громкости"));
        Session changed = session_;
        for (const auto& [id, measurement] : measured) {
            Track* clip = changed.track(id);
            if (!clip) continue;
            const Lane* row = changed.lane(*clip);
            if (const auto gain = LoudnessMatch::faderGain(measurement, target, row ? row->gainDB : 0.0))
                clip->gainDB = *gain;
        }
        setSession(std::move(changed));
        setStatus(L("Громкость сопоставлена ({0}): дорожек {1}", targetTitle,
                    static_cast<std::int64_t>(measured.size())));
        return;
    }

    std::vector<std::pair<Track, std::optional<double>>> work;
    for (const auto& [clip, entry] : qualifying) work.emplace_back(*clip, entry->measurement.lufs);
    std::function<std::vector<MatchedClip>()> render = [work = std::move(work), target] {
        std::vector<Track> clips;
        for (const auto& entry : work) clips.push_back(entry.first);
        std::vector<AudioData> rendered = RackRenderer::renderAll(clips);
        std::vector<MatchedClip> results;
        for (std::size_t i = 0; i < work.size(); ++i) {
            const auto& [clip, lufs] = work[i];
            LoudnessMatch::Processed output;
            output.flattensRack = hasActiveSlot(clip);
            output.audio = Loudness::normalize(rendered[i], target, lufs);
            rendered[i] = AudioData();
            Track processed = clip;
            LoudnessMatch::apply(output, processed);
            results.push_back({clip, std::move(processed)});
        }
        return results;
    };
    std::function<void(std::vector<MatchedClip>&&)> apply = [this, targetTitle](std::vector<MatchedClip>&& results) {
        checkpoint(L("Сопоставление громкости"));
        Session changed = session_;
        for (const MatchedClip& result : results) {
            Track* clip = changed.track(result.captured.id);
            if (!clip || !unchanged(*clip, result.captured.revision, result.captured.rack, result.captured.rackBypassed))
                continue;
            const Track& p = result.processed;
            clip->headHandle = p.headHandle;
            clip->tailHandle = p.tailHandle;
            clip->handleEnvelopes = p.handleEnvelopes;
            clip->audio = p.audio;
            clip->peaks = p.peaks;
            clip->leftEnvelope = p.leftEnvelope;
            clip->rightEnvelope = p.rightEnvelope;
            clip->revision = p.revision;
            clip->gainDB = p.gainDB;
            clip->rack = p.rack;
            clip->essentialSound = p.essentialSound;
        }
        setSession(std::move(changed));
        setStatus(L("Громкость обработана ({0}): дорожек {1}", targetTitle, static_cast<std::int64_t>(results.size())));
    };
    runLong<std::vector<MatchedClip>>(L("Сопоставление громкости…"), std::move(render), std::move(apply));
}

}  // namespace tessoral
