// Playback commands: stop, play/pause, seek, and the transport's callbacks.

#include <algorithm>
#include <cmath>

#include "model/BeatGrid.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/VectorOps.h"
#include "processing/RackRenderer.h"
#include "store/StudioStore.h"
#include "transport/AudioDevices.h"
#include "transport/AudioTransport.h"

namespace tessoral {

namespace {

// A rendered mix, playing on its device, and its largest sample magnitude over both channels.
struct RenderedMix {
    AudioTransport::Prepared output;
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
    // The status line no longer speaks of playback or a take under way.
    transport_->failed = [this](std::exception_ptr failure) {
        // Playback the sound server ended stays where it was heard last, and the status says why:
        // no press failed, so no alert waits for the next one (Space would only close it).
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const PlaybackLost& lost) {
            setCursor(transport_->position());
            setStatus(lost.message());
            return;
        } catch (...) {
        }
        reportRecordingFailure(std::move(failure));
    };
    transport_->playbackFinished = [this](double position) {
        setCursor(position);
        setStatus(L("Воспроизведение завершено"));
    };
}

void StudioStore::stop() {
    if (playbackStart_) {
        dropPlaybackStart();
        return;
    }
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

void StudioStore::dropPlaybackStart() {
    // The worker's result is dropped when it lands, however long a sound server keeps its opening
    // waiting: the store is free again at once, and the next Space starts anew.
    *playbackStart_ = true;
    playbackStart_.reset();
    setStatus(L("Остановлено"));
    setBusy(false);
}

void StudioStore::playPause() {
    // Space again before the device has opened: playback will not start.
    if (playbackStart_) {
        dropPlaybackStart();
        return;
    }
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
    const std::string outputUID = defaults().string(AudioDevices::kOutputDeviceKey).value_or("");

    // The device is opened and started on the worker too: a sound server may keep an opening
    // waiting, and the window must not wait with it. A start dropped meanwhile has freed the store
    // already (see dropPlaybackStart): its result only lets go of its stream.
    auto dropped = playbackStart_ = std::make_shared<bool>(false);
    setBusy(true);
    setStatus(L("Подготовка воспроизведения…"));
    services_.tasks->run(
        this, TaskPriority::userInitiated,
        [backend = services_.backend, outputUID, source = std::move(source), start, end, loop, clicks] {
            auto mix = std::make_shared<RenderedMix>();
            const AudioData audio = RackRenderer::mix(source, TimeRange{start, end});
            mix->peak = peakOf(audio);
            mix->output = AudioTransport::prepare(*backend, outputUID, audio, start, loop, clicks,
                                                  std::chrono::steady_clock::now() + kStreamOpenLimit);
            return mix;
        },
        [this, dropped](TaskResult<std::shared_ptr<RenderedMix>> result) {
            if (*dropped) {
                // Stopped before it started: its stream goes, without the window waiting on it.
                if (result.ok())
                    stopStreamLater(std::move(result.value()->output.stream), result.value()->output.voice);
                return;
            }
            playbackStart_.reset();
            try {
                const auto mix = std::move(result.value());
                transport_->play(std::move(mix->output));
                if (transport_->playing())
                    setStatus(mix->peak > 1.0f ? L("Пики выше 0 dB: уменьшите громкость микса") : L("Воспроизведение"));
            } catch (const PlatformError& refused) {
                // The output did not open or start (a sound server that is not running or does not
                // answer, a device that refuses): said in the status line, as playback the server
                // ends is, so that no alert waits for the next Space, which tries again.
                setStatus(refused.message());
            } catch (...) {
                reportRecordingFailure(std::current_exception());
            }
            setBusy(false);
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
