// Playback commands: stop, play/pause, seek, and the transport's callbacks.

#include <algorithm>
#include <cmath>

#include "model/BeatGrid.h"
#include "model/Localization.h"
#include "model/VectorOps.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"

namespace tessoral {

namespace {

// A rendered mix and its largest sample magnitude over both channels.
struct RenderedMix {
    AudioData audio;
    float peak = 0.0f;
};

float peakOf(const AudioData& audio) {
    float peak = 0.0f;
    for (const SharedArray<float>* channel : {&audio.left, &audio.right})
        peak = std::max(peak, vec::maxMagnitude(channel->data(), channel->size()));
    return peak;
}

}  // namespace

void StudioStore::installTransportCallbacks() {
    // The transport is owned by the store and calls back on the main thread only; the store clears
    // these before the transport goes. The recording area installs `recordingFinished` itself.
    transport_->failed = [this](std::exception_ptr failure) { setError(describe(failure)); };
    transport_->playbackFinished = [this](double position) {
        setCursor(position);
        setStatus(L("Воспроизведение завершено"));
    };
}

void StudioStore::stop() {
    if (countdownTask_) {
        countdownTask_.reset();  // cancels the pending count-in
        recordingTask_ = false;  // before busy's signal, so views read the start as over
        setBusy(false);
        setStatus(L("Запись отменена"));
        return;
    }
    if (transport_->recording()) {
        transport_->stopRecording();  // the take arrives through recordingFinished
        return;
    }
    if (transport_->playing()) {
        setCursor(transport_->position());
        setStatus(L("Остановлено"));
    }
    transport_->stop();
}

void StudioStore::playPause() {
    if (locked()) return;
    if (transport_->playing()) {
        setCursor(transport_->position());
        transport_->stop();
        setStatus(L("Пауза"));
        return;
    }
    if (session_.tracks.empty()) return;

    const bool waveform = editorMode_ == EditorMode::waveform;
    Session source = waveform ? isolatedTrackSession() : session_;
    const auto index = selectedIndex();
    const std::optional<double> clipStart =
        waveform && index ? std::optional<double>(session_.tracks[*index].start) : std::nullopt;

    const double duration = source.duration();
    const double end = selection_ ? std::min(duration, selection_->upper) : duration;
    double start = cursor_;
    if (selection_) {
        if (loop_ || cursor_ < selection_->lower || cursor_ >= end) start = selection_->lower;
    } else if (cursor_ >= end) {
        start = clipStart.value_or(0.0);
    }
    if (waveform) start = std::max(start, clipStart.value_or(0.0));
    if (!(start < end)) return;

    std::optional<BeatGrid> clicks;
    if (metronome_) {
        const double tempo = std::isfinite(session_.tempo) ? std::clamp(session_.tempo, 20.0, 300.0) : 120.0;
        clicks = BeatGrid{tempo, std::clamp<std::int64_t>(session_.beatsPerBar, 1, 16)};
    }
    const bool loop = loop_;

    runLong<RenderedMix>(
        L("Подготовка воспроизведения…"),
        [source = std::move(source), start, end] {
            RenderedMix mix;
            mix.audio = RackRenderer::mix(source, TimeRange{start, end});
            mix.peak = peakOf(mix.audio);
            return mix;
        },
        [this, start, loop, clicks](RenderedMix&& mix) {
            transport_->play(mix.audio, start, loop, clicks);
            if (transport_->playing())
                setStatus(mix.peak > 1.0f ? L("Пики выше 0 dB: уменьшите громкость микса") : L("Воспроизведение"));
        });
}

void StudioStore::seek(double time) {
    if (locked()) return;
    const bool wasPlaying = transport_->playing();
    transport_->stop();
    const double t = std::isnan(time) ? 0.0 : std::clamp(time, 0.0, session_.duration());
    setCursor(t);
    if (wasPlaying) playPause();
}

}  // namespace tessoral
