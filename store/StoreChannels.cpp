// The processing sheet's tools: stereo channel operations on the selected clip, test tones and
// noise as new clips on new rows at the cursor, and silence inserted into the selected clip.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "model/Automation.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "processing/AudioEdits.h"
#include "processing/ChannelOps.h"
#include "processing/SignalGenerator.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// Closes the open processing sheet.
DiagnosticsState withoutSheet(DiagnosticsState state) {
    state.sheet.reset();
    return state;
}

}  // namespace

void StudioStore::applyChannelOperation(const ChannelOperation& operation) {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) {
        setError(L("Выберите клип."));
        return;
    }
    const Track& clip = session_.tracks[*index];
    const auto found = rangeInClip(clip);
    if (!found) return;
    const FrameRange range = *found;
    stop();
    setDiagnostics(withoutSheet(diagnostics_));
    const std::string name = operation.title();
    const Uuid id = clip.id;
    std::function<RefreshedAudio()> work = [operation, audio = clip.audio, range] {
        return RefreshedAudio::of(ChannelOps::apply(operation, audio, range));
    };
    std::function<void(RefreshedAudio&&)> apply = [this, id, name](RefreshedAudio&& refreshed) {
        const auto at = session_.trackIndex(id);
        if (!at) {
            setError(L("Дорожка удалена."));
            return;
        }
        refreshClip(*at, name, std::move(refreshed));
        setStatus(L("Применено: {0}", name));
    };
    runLong<RefreshedAudio>(name + "…", std::move(work), std::move(apply));
}

void StudioStore::generateTone() {
    if (locked()) return;
    const DiagnosticsState& d = diagnostics_;
    // The name holds the frequency as a whole number: a value the generator would refuse is
    // refused here, before a name could be made of it.
    if (!std::isfinite(d.toneFrequency) || d.toneFrequency < 20.0 || d.toneFrequency > 20000.0) {
        setError(L("Частота должна быть от 20 до 20 000 Гц."));
        return;
    }
    const std::string name = L("{0} {1} Гц", tessoral::title(d.toneWaveform), roundSaturating(d.toneFrequency));
    generateTrack(name, d.toneDuration,
                  [waveform = d.toneWaveform, frequency = d.toneFrequency, level = d.toneLevelDB,
                   duration = d.toneDuration] { return SignalGenerator::tone(waveform, frequency, level, duration); });
}

void StudioStore::generateNoise() {
    if (locked()) return;
    const DiagnosticsState& d = diagnostics_;
    const std::string name = L("{0} шум", tessoral::title(d.noiseColor));
    const std::uint64_t seed = d.noiseSeed < 0 ? 0 : static_cast<std::uint64_t>(d.noiseSeed);
    generateTrack(name, d.noiseDuration, [color = d.noiseColor, level = d.noiseLevelDB, duration = d.noiseDuration, seed] {
        return SignalGenerator::noise(color, level, duration, seed);
    });
}

void StudioStore::generateTrack(const std::string& name, double duration, std::function<AudioData()> make) {
    if (locked()) return;
    if (session_.lanes.size() >= static_cast<std::size_t>(limits::kMaxLanes) ||
        session_.tracks.size() >= static_cast<std::size_t>(limits::kMaxClips)) {
        setError(L("Достигнут предел проекта: {0} дорожек и {1} клипов.", limits::kMaxLanes, limits::kMaxClips));
        return;
    }
    if (!std::isfinite(duration) || duration <= 0.0) {
        setError(L("Укажите длительность больше нуля."));
        return;
    }
    const double start = std::isnan(cursor_) ? 0.0 : std::clamp(cursor_, 0.0, limits::kMaxSeconds);
    if (start + duration > limits::kMaxSeconds) {
        setError(L("Сигнал не помещается: длина проекта ограничена 8 минутами."));
        return;
    }
    if (session_.bytes() + truncSaturating(duration * kSampleRate) * 8 > limits::kMaxBytes) {
        setError(L("Недостаточно памяти проекта: лимит 384 МБ декодированного звука."));
        return;
    }
    stop();
    setDiagnostics(withoutSheet(diagnostics_));
    const auto color = static_cast<std::int64_t>(session_.lanes.size() % limits::kPaletteSize);
    std::function<Track()> work = [make = std::move(make), name, start, color] {
        Track clip = Track::make(name, make());
        clip.start = start;
        clip.color = color;
        return clip;
    };
    std::function<void(Track&&)> apply = [this, name](Track&& clip) {
        checkpoint(L("Генерация: {0}", name));
        Session changed = session_;
        const Uuid id = changed.appendOnNewLane(std::move(clip));
        setSession(std::move(changed));
        setSelectedID(id);
        setSelection(std::nullopt);
        setStatus(L("Создана дорожка «{0}»", name));
    };
    runLong<Track>(L("Генерация: {0}…", name), std::move(work), std::move(apply));
}

void StudioStore::insertSilence() {
    if (locked()) return;
    const auto index = selectedIndex();
    if (!index) {
        setError(L("Выберите клип."));
        return;
    }
    const double seconds = diagnostics_.silenceDuration;
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        setError(L("Укажите длительность больше нуля."));
        return;
    }
    const Track& clip = session_.tracks[*index];
    const std::int64_t frames = clip.frames();
    const std::int64_t position = roundSaturating((cursor_ - clip.start) * kSampleRate);
    if (position < 0 || position > frames) {
        setError(L("Поставьте курсор внутри выбранного клипа."));
        return;
    }
    const std::int64_t count = roundSaturating(seconds * kSampleRate);
    if (clip.start + framesToSeconds(frames) + seconds > limits::kMaxSeconds || count > limits::kMaxFrames - frames) {
        setError(L("Длина проекта ограничена 8 минутами."));
        return;
    }
    if (session_.bytes() + count * 8 > limits::kMaxBytes) {
        setError(L("Недостаточно памяти проекта."));
        return;
    }
    stop();
    setDiagnostics(withoutSheet(diagnostics_));
    const Uuid id = clip.id;
    std::function<RefreshedAudio()> work = [audio = clip.audio, position, count] {
        const AudioData silence = count < 1 ? AudioData() : AudioData::silence(count);
        return RefreshedAudio::of(AudioEdits::paste(silence, audio, position));
    };
    std::function<void(RefreshedAudio&&)> apply = [this, id, position, count, seconds](RefreshedAudio&& refreshed) {
        const auto at = session_.trackIndex(id);
        if (!at) {
            setError(L("Дорожка удалена."));
            return;
        }
        refreshClip(*at, L("Вставка тишины"), std::move(refreshed), [&](Track& changed) {
            const double point = framesToSeconds(position);
            const TimeRange insertion{point, point};
            const double length = framesToSeconds(count);
            changed.volumeEnvelope = Automation::replacing(changed.volumeEnvelope, insertion, length);
            changed.panEnvelope = Automation::replacing(changed.panEnvelope, insertion, length);
        });
        setSelection(std::nullopt);
        setStatus(L("Вставлено {0} с тишины", num::fixed(seconds, 2)));
    };
    runLong<RefreshedAudio>(L("Вставка тишины…"), std::move(work), std::move(apply));
}

}  // namespace tessoral
