// Destructive processing of the selected clip: the nine edits, one effect preset, noise reduction,
// time and pitch, the clip refresh that ends each of them, and the spectrogram cache.

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "model/Automation.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StudioError.h"
#include "processing/AudioEdits.h"
#include "processing/AudioIOEffect.h"
#include "processing/NoiseReduction.h"
#include "processing/SpectralAnalysis.h"
#include "processing/TimePitch.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// `audio` with the frames of `range` replaced by `part` (which may be of another length).
AudioData spliced(const AudioData& audio, FrameRange range, const AudioData& part) {
    const std::int64_t n = audio.frames();
    const std::int64_t lo = clampTo<std::int64_t>(range.lower, 0, n);
    const std::int64_t hi = clampTo<std::int64_t>(range.upper, lo, n);
    auto channel = [&](const SharedArray<float>& source, const SharedArray<float>& inserted) {
        std::vector<float> out;
        out.reserve(static_cast<std::size_t>(lo + (n - hi)) + inserted.size());
        out.insert(out.end(), source.begin(), source.begin() + lo);
        out.insert(out.end(), inserted.begin(), inserted.end());
        out.insert(out.end(), source.begin() + hi, source.end());
        return out;
    };
    return AudioData(channel(audio.left, part.left), channel(audio.right, part.right));
}

// "%+.0f": the sign always, also for zero.
std::string signedWhole(double value) {
    std::string text = num::fixed(value, 0);
    if (!text.empty() && text.front() != '-') text.insert(text.begin(), '+');
    return text;
}

double clipSeconds(std::int64_t frames) { return framesToSeconds(frames); }

}  // namespace

// ---- clip refresh ----

StudioStore::RefreshedAudio StudioStore::RefreshedAudio::of(AudioData audio) {
    RefreshedAudio r;
    r.peaks = SharedArray<float>(audio.peaks(limits::kPeakBins));
    r.leftEnvelope = SharedArray<EnvelopeBin>(audio.envelope(false, limits::kEnvelopeBins));
    r.rightEnvelope = SharedArray<EnvelopeBin>(audio.envelope(true, limits::kEnvelopeBins));
    r.audio = std::move(audio);
    return r;
}

void StudioStore::refreshClip(std::size_t index, const std::string& undoName, RefreshedAudio refreshed,
                              const std::function<void(Track&)>& adjust) {
    if (index >= session_.tracks.size()) return;
    checkpoint(undoName);
    Session changed = session_;
    Track& clip = changed.tracks[index];
    clip.headHandle.reset();
    clip.tailHandle.reset();
    clip.handleEnvelopes.reset();
    clip.audio = std::move(refreshed.audio);
    clip.peaks = std::move(refreshed.peaks);
    clip.leftEnvelope = std::move(refreshed.leftEnvelope);
    clip.rightEnvelope = std::move(refreshed.rightEnvelope);
    clip.revision = Uuid::random();
    if (adjust) adjust(clip);
    // A shorter clip keeps the fades it plays, also after saving and reopening.
    clip.keepFadesAsPlayed();
    setSession(std::move(changed));
}

std::optional<FrameRange> StudioStore::rangeInClip(const Track& clip) {
    const FrameRange range = clip.framesIn(selection_);
    if (range.empty()) {
        setError(L("Выделите фрагмент внутри выбранного клипа."));
        return std::nullopt;
    }
    return range;
}

// ---- edits ----

void StudioStore::edit(EditAction action) {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    stop();
    const Track& clip = session_.tracks[*index];
    const FrameRange range = clip.framesIn(selection_);
    const bool needsSelection =
        action == EditAction::trim || action == EditAction::delete_ || action == EditAction::silence;
    if (needsSelection && !selection_) {
        setError(L("Сначала выделите фрагмент в клипе."));
        return;
    }
    const double gain = gainAmount_;
    const std::int64_t oldFrames = clip.frames();
    std::function<RefreshedAudio()> work = [audio = clip.audio, action, range, gain] {
        return RefreshedAudio::of(AudioEdits::apply(action, audio, range, gain));
    };
    std::function<void(RefreshedAudio&&)> apply = [this, index = *index, action, range,
                                                   oldFrames](RefreshedAudio&& refreshed) {
        const std::string name = tessoral::title(action);
        refreshClip(index, name, std::move(refreshed), [&](Track& clip) {
            if (action == EditAction::delete_) {
                const TimeRange removed{clipSeconds(range.lower), clipSeconds(range.upper)};
                clip.volumeEnvelope = Automation::replacing(clip.volumeEnvelope, removed, 0.0);
                clip.panEnvelope = Automation::replacing(clip.panEnvelope, removed, 0.0);
            } else if (action == EditAction::trim) {
                clip.start += clipSeconds(range.lower);
                clip.cropAutomation(range, oldFrames);
            }
        });
        if (action == EditAction::delete_ || action == EditAction::trim) setSelection(std::nullopt);
        setCursor(std::min(cursor_, session_.duration()));
        setStatus(name);
    };
    runLong<RefreshedAudio>(std::string(), std::move(work), std::move(apply));
}

// ---- one effect preset ----

void StudioStore::applyEffect() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    stop();
    const Track& clip = session_.tracks[*index];
    const auto found = rangeInClip(clip);
    if (!found) return;
    const FrameRange range = *found;
    const EffectPreset effect = chosenEffect_;
    const std::string effectTitle = tessoral::title(effect);
    std::function<RefreshedAudio()> work = [audio = clip.audio, range, effect] {
        const AudioData rendered = AudioIO::effect(effect, audio.slice(range), {});
        return RefreshedAudio::of(spliced(audio, range, rendered));
    };
    std::function<void(RefreshedAudio&&)> apply = [this, index = *index, effectTitle](RefreshedAudio&& refreshed) {
        refreshClip(index, effectTitle, std::move(refreshed));
        setStatus(L("Применено: {0}", effectTitle));
    };
    runLong<RefreshedAudio>(L("Обработка: {0}…", effectTitle), std::move(work), std::move(apply));
}

// ---- noise reduction ----

void StudioStore::learnNoise() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    // Playback goes on: learning changes nothing that is heard.
    if (!selection_) {
        setError(L("Выделите участок, где слышен только шум (без речи и музыки)."));
        return;
    }
    const Track& clip = session_.tracks[*index];
    const FrameRange range = clip.framesIn(selection_);
    if (range.count() < kNoiseProfileFrames) {
        setError(L("Выделите фрагмент шума длительностью не менее 0,05 секунды."));
        return;
    }
    std::function<std::optional<NoiseProfile>()> work = [slice = clip.audio.slice(range)]() -> std::optional<NoiseProfile> {
        if (slice.frames() < kNoiseProfileFrames) return std::nullopt;
        NoiseProfile profile;
        profile.left = NoiseReduction::averageSpectrum(slice.left.span());
        profile.right = NoiseReduction::averageSpectrum(slice.right.span());
        return profile;
    };
    std::function<void(std::optional<NoiseProfile>&&)> apply = [this](std::optional<NoiseProfile>&& profile) {
        if (!profile) {
            setError(L("Не удалось проанализировать шум."));
            return;
        }
        setNoiseProfile(std::move(profile));
        setStatus(L("Профиль шума запомнен. Теперь нажмите «Убрать шум»."));
    };
    runLong<std::optional<NoiseProfile>>(L("Анализ шума…"), std::move(work), std::move(apply));
}

void StudioStore::reduceNoise() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    if (!noiseProfile_) {
        setError(L("Сначала выделите чистый шум и нажмите «Запомнить шум»."));
        return;
    }
    stop();
    const Track& clip = session_.tracks[*index];
    const auto found = rangeInClip(clip);
    if (!found) return;
    const FrameRange range = *found;
    const double strength = noiseStrength_;
    std::function<RefreshedAudio()> work = [profile = *noiseProfile_, audio = clip.audio, range, strength] {
        return RefreshedAudio::of(NoiseReduction::apply(profile, audio, range, strength));
    };
    std::function<void(RefreshedAudio&&)> apply = [this, index = *index](RefreshedAudio&& refreshed) {
        refreshClip(index, L("Шумоподавление"), std::move(refreshed));
        setStatus(L("Шум подавлен"));
    };
    runLong<RefreshedAudio>(L("Шумоподавление…"), std::move(work), std::move(apply));
}

// ---- time and pitch ----

void StudioStore::applyTimePitch() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) return;
    const double rate = std::clamp(std::isfinite(timeRate_) ? timeRate_ : 1.0, 0.5, 2.0);
    const double semitones = std::clamp(std::isfinite(timeSemitones_) ? timeSemitones_ : 0.0, -12.0, 12.0);
    if (rate == 1.0 && semitones == 0.0) {
        setShowTimePitch(false);
        return;
    }
    stop();
    const Track& clip = session_.tracks[*index];
    const auto found = rangeInClip(clip);
    if (!found) return;
    const FrameRange range = *found;
    setShowTimePitch(false);
    std::function<RefreshedAudio()> work = [audio = clip.audio, range, rate, semitones] {
        const AudioData stretched = AudioIO::timePitch(audio.slice(range), rate, semitones);
        if (audio.frames() - range.count() + stretched.frames() > limits::kMaxFrames)
            throw StudioError(L("Длина клипа ограничена 8 минутами."));
        return RefreshedAudio::of(spliced(audio, range, stretched));
    };
    std::function<void(RefreshedAudio&&)> apply = [this, index = *index, range, rate,
                                                   semitones](RefreshedAudio&& refreshed) {
        if (index >= session_.tracks.size()) return;
        const Track& clip = session_.tracks[index];
        const std::int64_t newFrames = refreshed.audio.frames();
        const std::int64_t delta = newFrames - clip.frames();
        if (session_.bytes() + delta * 8 > limits::kMaxBytes) {
            setError(L("Недостаточно памяти проекта для замедления."));
            return;
        }
        if (clip.start + clipSeconds(newFrames) > limits::kMaxSeconds) {
            setError(L("Длина проекта ограничена 8 минутами."));
            return;
        }
        refreshClip(index, L("Скорость и тон"), std::move(refreshed), [&](Track& changed) {
            const TimeRange replaced{clipSeconds(range.lower), clipSeconds(range.upper)};
            const double newLength = clipSeconds(range.count() + delta);
            changed.volumeEnvelope = Automation::replacing(changed.volumeEnvelope, replaced, newLength);
            changed.panEnvelope = Automation::replacing(changed.panEnvelope, replaced, newLength);
        });
        setSelection(std::nullopt);
        setCursor(std::min(cursor_, session_.duration()));
        setStatus(L("Скорость ×{0}, тон {1} пт", num::fixed(rate, 2), signedWhole(semitones)));
    };
    runLong<RefreshedAudio>(L("Скорость и тон…"), std::move(work), std::move(apply));
}

// ---- spectrograms ----

void StudioStore::ensureSpectrogram(const Track& clip) {
    if (!spectralView_) return;
    if (const auto cached = spectrograms_.find(clip.id);
        cached != spectrograms_.end() && cached->second.revision == clip.revision &&
        cached->second.display == spectralDisplay_)
        return;
    if (spectrogramJobs_.count(clip.id)) return;
    spectrogramJobs_.insert(clip.id);
    const Uuid id = clip.id;
    const Uuid revision = clip.revision;
    const SpectralDisplay display = spectralDisplay_;
    services_.tasks->run(
        this, TaskPriority::utility,
        [audio = clip.audio, display] {
            return SpectralAnalysis::spectrogram(audio, kSpectrogramHeight, kSpectrogramColumns, display);
        },
        [this, id, revision, display](TaskResult<std::optional<SpectrogramImage>> result) {
            spectrogramJobs_.erase(id);
            if (!result.ok() || !result.value()) return;
            const Track* current = session_.track(id);
            if (!current) return;
            if (current->revision == revision && spectralDisplay_ == display) {
                auto images = spectrograms_;
                images[id] = SpectrogramEntry{revision, display, std::move(*result.value())};
                setSpectrograms(std::move(images));
            } else {
                ensureSpectrogram(*current);
            }
        });
}

}  // namespace tessoral
