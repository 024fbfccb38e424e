// Essential sound: a clip's sound type and one-step treatments, the rack slots generated from
// them, the clip gain toward the loudness target, and ducking of music and ambience under dialogue.

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "model/AutoDuck.h"
#include "model/EssentialSoundChain.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "processing/EssentialSoundEngine.h"
#include "processing/Loudness.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// "%+.1f": the sign always, also for zero.
std::string signedOneDecimal(double value) {
    std::string text = num::fixed(value, 1);
    if (!text.empty() && text.front() != '-') text.insert(text.begin(), '+');
    return text;
}

// What the background analysis hands back: the new rack and settings, and the clip gain toward
// the loudness target when it was measured.
struct EssentialOutcome {
    EssentialSoundEngine::Applied applied;
    std::optional<double> gain;
};

// One 400 ms loudness measuring block.
constexpr std::int64_t kLoudnessBlockFrames = 19200;

// The fixed ducking of music and ambience under dialogue.
AutoDuckSettings essentialDuckSettings() {
    AutoDuckSettings s;
    s.duckDB = -15.0;
    s.thresholdDB = -40.0;
    s.fadeDownMS = 250.0;
    s.fadeUpMS = 800.0;
    s.holdMS = 600.0;
    return s;
}

}  // namespace

// ---- commands ----

void StudioStore::resetEssentialSound() {
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    if (!clip.essentialSound) return;
    commitEssential(clip.id, std::nullopt, L("Основной звук: сброс"), false);
}

void StudioStore::setEssentialType(SoundType type) {
    const auto index = selectedIndex();
    if (!index) return;
    setShowInspector(true);
    setInspectorTab(3);
    const Track& clip = session_.tracks[*index];
    if (clip.essentialSound && clip.essentialSound->type == type) return;
    EssentialSound settings(type);
    if (clip.essentialSound) {
        settings.targetLUFS = clip.essentialSound->targetLUFS;
        settings.slotIDs = clip.essentialSound->slotIDs;
    }
    commitEssential(clip.id, settings, L("Основной звук: {0}", tessoral::title(type)), false);
}

void StudioStore::updateEssential(const std::string& name, const std::function<void(EssentialSound&)>& mutation) {
    const auto index = selectedIndex();
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    if (!clip.essentialSound) return;
    EssentialSound settings = *clip.essentialSound;
    if (mutation) mutation(settings);
    if (settings == *clip.essentialSound) return;
    commitEssential(clip.id, settings, L("Основной звук: {0}", name), false);
}

void StudioStore::commitEssential(const Uuid& idRef, const std::optional<EssentialSound>& settingsRef,
                                  const std::string& nameRef, bool forceMatch) {
    // Callers may pass the clip's own id and settings, which the change replaces: work on copies.
    const Uuid id = idRef;
    const std::optional<EssentialSound> settings = settingsRef;
    const std::string name = nameRef;
    if (locked()) return;
    const auto index = session_.trackIndex(id);
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    const std::optional<EssentialSound> previous = clip.essentialSound;

    const bool needsHum = settings && settings->type == SoundType::dialogue && settings->removeHum.enabled &&
                          !settings->humFrequency;
    bool needsLoudness = false;
    if (settings && settings->matchLoudness) {
        if (forceMatch || !previous || previous->type != settings->type || !previous->matchLoudness ||
            previous->targetLUFS != settings->targetLUFS)
            needsLoudness = true;
        else
            needsLoudness = chainSignature(*previous) != chainSignature(*settings);
    }

    // A quit is writing the project away: what analysis it needs is redone at restore.
    if (essentialSettling_ && settings && (needsHum || needsLoudness)) {
        if (std::find(essentialOwed_.begin(), essentialOwed_.end(), id) == essentialOwed_.end())
            essentialOwed_.push_back(id);
    } else if (needsHum || needsLoudness) {
        runEssentialAnalysis(id, settings, previous, name, needsHum, needsLoudness, true);
        return;
    }
    EssentialSoundEngine::Applied result;
    try {
        result = EssentialSoundEngine::apply(settings, previous, clip.rack);
    } catch (...) {
        setError(describe(std::current_exception()));
        return;
    }
    stop();
    checkpoint(name);
    storeEssential(std::move(result), previous, std::nullopt, *index);
    setStatus(settings ? L("Основной звук обновлён") : L("Основной звук сброшен"));
}

void StudioStore::runEssentialAnalysis(const Uuid& id, const std::optional<EssentialSound>& settings,
                                       const std::optional<EssentialSound>& previous, const std::string& name,
                                       bool needsHum, bool needsLoudness, bool step) {
    const auto index = session_.trackIndex(id);
    if (!index) return;
    const Track& clip = session_.tracks[*index];
    stop();
    std::function<EssentialOutcome()> work = [clip = clip, settings, previous, needsHum, needsLoudness] {
        std::optional<EssentialSound> chosen = settings;
        if (needsHum && chosen) chosen->humFrequency = EssentialSoundEngine::detectHum(clip.audio);
        EssentialOutcome outcome{EssentialSoundEngine::apply(chosen, previous, clip.rack), std::nullopt};
        if (needsLoudness && outcome.applied.settings) {
            Track processed = clip;
            processed.rack = outcome.applied.rack;
            const AudioData rendered = RackRenderer::render(processed);
            // Audio shorter than one measuring block has no integrated loudness to match.
            const auto measured =
                rendered.frames() >= kLoudnessBlockFrames ? Loudness::integrated(rendered) : std::nullopt;
            if (measured) {
                const double gain = std::min(std::max(outcome.applied.settings->targetLUFS - *measured, -60.0), 12.0);
                if (std::isfinite(gain)) outcome.gain = gain;
            }
        }
        return outcome;
    };
    const std::uint64_t number = ++essentialRuns_;
    essentialRun_ = EssentialRun{number, id, settings, previous, name, step};
    std::function<void(EssentialOutcome&&)> apply = [this, id, previous, name, number, step](EssentialOutcome&& outcome) {
        // A quit settled the change without its analysis.
        if (!essentialRun_ || essentialRun_->number != number) return;
        essentialRun_.reset();
        const auto at = session_.trackIndex(id);
        if (!at) return;
        if (step) checkpoint(name);
        const std::optional<double> gain = outcome.gain;
        storeEssential(std::move(outcome.applied), previous, gain, *at);
        setStatus(gain ? L("Основной звук: усиление {0} dB", signedOneDecimal(*gain)) : L("Основной звук обновлён"));
    };
    std::function<void()> failed = [this, number] {
        if (essentialRun_ && essentialRun_->number == number) essentialRun_.reset();
    };
    runLong<EssentialOutcome>(L("Основной звук: анализ дорожки…"), std::move(work), std::move(apply), std::move(failed));
}

void StudioStore::settleEssentialAnalysis() {
    if (!essentialRun_) return;
    const EssentialRun run = std::move(*essentialRun_);
    essentialRun_.reset();
    essentialSettling_ = true;
    if (const auto at = session_.trackIndex(run.id)) {
        try {
            EssentialSoundEngine::Applied result =
                EssentialSoundEngine::apply(run.settings, run.previous, session_.tracks[*at].rack);
            if (run.step) checkpoint(run.name);
            storeEssential(std::move(result), run.previous, std::nullopt, *at);
            if (run.settings &&
                std::find(essentialOwed_.begin(), essentialOwed_.end(), run.id) == essentialOwed_.end())
                essentialOwed_.push_back(run.id);
        } catch (...) {
            // Its analysis would have failed the same way: the change never was.
        }
    }
    // Unlocked, the panel sends what it was told meanwhile, each taken at once.
    setBusy(false);
    essentialSettling_ = false;
}

void StudioStore::redoEssentialAnalysis(std::vector<Uuid> ids) {
    if (locked()) return;
    while (!ids.empty()) {
        const Uuid id = ids.front();
        ids.erase(ids.begin());
        const Track* clip = session_.track(id);
        if (!clip || !clip->essentialSound) continue;
        const EssentialSound& s = *clip->essentialSound;
        const bool hum = s.type == SoundType::dialogue && s.removeHum.enabled && !s.humFrequency;
        if (!hum && !s.matchLoudness) continue;
        runEssentialAnalysis(id, s, s, {}, hum, s.matchLoudness, false);
        if (!ids.empty())
            connect(this, &StudioStore::busyChanged, this, [this, ids] { redoEssentialAnalysis(ids); },
                    Qt::SingleShotConnection);
        return;
    }
}

void StudioStore::storeEssential(EssentialSoundEngine::Applied result, const std::optional<EssentialSound>& previous,
                                 std::optional<double> gain, std::size_t index) {
    if (index >= session_.tracks.size()) return;
    Session changed = session_;
    Track& clip = changed.tracks[index];
    clip.rack = std::move(result.rack);
    clip.essentialSound = std::move(result.settings);
    if (gain) clip.gainDB = *gain;
    if (const auto newPan = clip.essentialSound ? pan(*clip.essentialSound) : std::nullopt)
        clip.pan = *newPan;
    else if (previous && pan(*previous))
        clip.pan = 0.0;
    const bool wasDucking = previous && ducks(*previous);
    const bool ducking = clip.essentialSound && ducks(*clip.essentialSound);
    const Uuid id = clip.id;
    if (wasDucking && !ducking) clip.volumeEnvelope.clear();
    setSession(std::move(changed));
    if (ducking && !wasDucking) essentialDuckingChanged(std::vector<Uuid>{id}, editCounter_);
}

// ---- ducking under dialogue ----

StudioStore::EssentialDuckingPlan StudioStore::essentialDuckingPlan() const {
    EssentialDuckingPlan plan;
    for (const Track& clip : session_.tracks) {
        if (!clip.essentialSound) continue;
        const EssentialSound& s = *clip.essentialSound;
        if ((s.type == SoundType::music || s.type == SoundType::ambience) && s.duckUnderDialogue)
            plan.ducked.push_back(clip.id);
        if (s.type == SoundType::dialogue) plan.dialogue.push_back(clip.id);
    }
    return plan;
}

void StudioStore::essentialDuckingChanged(std::optional<std::vector<Uuid>> only, std::optional<std::int64_t> step) {
    services_.scheduler->post([store = QPointer<StudioStore>(this), only = std::move(only), step] {
        if (store) store->runEssentialDucking(only, step);
    });
}

void StudioStore::runEssentialDucking(const std::optional<std::vector<Uuid>>& only, std::optional<std::int64_t> step) {
    const EssentialDuckingPlan plan = essentialDuckingPlan();
    std::vector<Uuid> targets;
    for (const Uuid& id : plan.ducked)
        if (!only || std::find(only->begin(), only->end(), id) != only->end()) targets.push_back(id);
    if (targets.empty() || locked()) return;
    if (plan.dialogue.empty()) {
        setStatus(L("Приглушение: отметьте дорожку с речью как «Диалог»"));
        return;
    }
    auto listed = [](const std::vector<Uuid>& ids, const Uuid& id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    struct Target {
        Uuid id;
        double start = 0.0;
        double duration = 0.0;
    };
    std::vector<AutoDuck::VoiceSource> voices;
    std::vector<Target> spans;
    for (const Track& clip : session_.tracks) {
        if (listed(plan.dialogue, clip.id)) {
            const Lane* row = session_.lane(clip);
            if (!row || !row->muted) voices.push_back(voiceSource(clip));
        }
        if (listed(targets, clip.id)) spans.push_back({clip.id, clip.start, clip.duration()});
    }
    stop();
    using Result = std::vector<std::pair<Uuid, Envelope>>;
    std::function<Result()> work = [voices = std::move(voices), spans = std::move(spans)] {
        const AutoDuckSettings settings = essentialDuckSettings();
        const auto regions = AutoDuck::speechRegions(voices, settings.thresholdDB, settings.holdMS / 1000.0);
        Result result;
        for (const Target& t : spans)
            result.emplace_back(t.id, AutoDuck::keyframes(regions, t.start, t.duration, settings));
        return result;
    };
    std::function<void(Result&&)> apply = [this, step](Result&& results) {
        std::erase_if(results, [this](const auto& r) { return r.second.empty() || !session_.track(r.first); });
        if (results.empty()) {
            setStatus(L("Речь под дорожками не найдена"));
            return;
        }
        if (!step || *step != editCounter_) checkpoint(L("Автоприглушение"));
        Session changed = session_;
        for (auto& [id, points] : results)
            if (Track* clip = changed.track(id)) clip->volumeEnvelope = std::move(points);
        setSession(std::move(changed));
        setShowEnvelopes(true);
        setStatus(L("Автоприглушение: дорожек — {0}", static_cast<std::int64_t>(results.size())));
    };
    runLong<Result>(L("Поиск речи…"), std::move(work), std::move(apply));
}

}  // namespace tessoral
