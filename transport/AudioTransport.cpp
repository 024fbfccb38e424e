#include "transport/AudioTransport.h"

#include <algorithm>
#include <cmath>

#include "model/Defaults.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/VectorOps.h"
#include "transport/AudioBackend.h"
#include "transport/AudioDevices.h"
#include "transport/AudioRecorder.h"
#include "transport/PlaybackVoice.h"
#include "transport/Scheduler.h"

namespace tessoral {

namespace {

// How long the window waits for a stream that stopped calling to stop before leaving it to stop.
constexpr std::chrono::milliseconds kSilentStopLimit{250};

float peak(const float* samples, std::int64_t from, std::int64_t to) {
    return to > from ? vec::maxMagnitude(samples + from, static_cast<std::size_t>(to - from)) : 0.0f;
}

}  // namespace

PlaybackLost::PlaybackLost()
    : SoundServerFault(L("Звуковой сервер не отвечает или завершил работу: воспроизведение остановлено.")) {}

AudioTransport::AudioTransport(AudioBackend& backend, Scheduler& scheduler, const Defaults& defaults)
    : backend_(backend),
      scheduler_(scheduler),
      defaults_(defaults),
      generation_(Uuid::random()),
      recorder_(std::make_unique<AudioRecorder>(backend, defaults)) {
    // Made here so the first play does not build them.
    MetronomeClicks::accentClick();
    MetronomeClicks::normalClick();
}

AudioTransport::~AudioTransport() {
    timer_.reset();
    recorder_.reset();
    teardownPlayback();
    // The program's end: each device is given its time to stop, then left to stop by itself.
    for (const Stopping& s : stopping_) s.stop->waitUntil(s.deadline);
}

bool AudioTransport::waitUntilStopped(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    return std::all_of(stopping_.begin(), stopping_.end(), [&](const Stopping& s) { return s.stop->waitUntil(deadline); });
}

void AudioTransport::play(const AudioData& audio, double start, bool loop, std::optional<BeatGrid> clicks) {
    stop();
    generation_ = Uuid::random();
    if (audio.empty()) return;
    const std::string uid = defaults_.string(AudioDevices::kOutputDeviceKey).value_or("");
    play(prepare(backend_, uid, audio, start, loop, clicks, std::chrono::steady_clock::now() + kMainThreadOpenLimit));
}

AudioTransport::Prepared AudioTransport::prepare(AudioBackend& backend, const std::string& outputUID,
                                                 const AudioData& audio, double start, bool loop,
                                                 const std::optional<BeatGrid>& clicks,
                                                 std::chrono::steady_clock::time_point deadline) {
    Prepared prepared;
    if (audio.empty()) return prepared;
    prepared.audio = audio;
    prepared.start = std::isfinite(start) ? start : 0.0;
    prepared.loop = loop;
    std::vector<ClickPlacement> placements;
    if (clicks) placements = MetronomeClicks::placements(*clicks, prepared.start, audio.frames());
    prepared.voice = std::make_shared<PlaybackVoice>(audio, loop, std::move(placements), Uuid::random());
    AudioStreamRequest request;
    request.outputChannels = 2;
    request.sampleRate = kSampleRate;
    if (const auto id = outputUID.empty() ? std::nullopt : AudioDevices::deviceID(backend, outputUID)) {
        request.outputDevice = id;
        try {
            prepared.stream = openStreamBy(backend, request, prepared.voice, true, deadline);
            return prepared;
        } catch (const SoundServerFault&) {
            throw;
        } catch (const PlatformError&) {
            // The chosen device refused: the default output plays instead.
            request.outputDevice.reset();
        }
    }
    prepared.stream = openStreamBy(backend, request, prepared.voice, true, deadline);
    return prepared;
}

void AudioTransport::play(Prepared prepared) {
    stop();
    if (!prepared.stream || !prepared.voice) return;
    generation_ = prepared.voice->generation();
    voice_ = std::move(prepared.voice);
    stream_ = std::move(prepared.stream);
    audio_ = std::move(prepared.audio);
    start_ = prepared.start;
    loop_ = prepared.loop;
    tailTicks_ = 0;
    position_ = start_;
    playing_ = true;
    watch(voice_->cycles());
    resetMeters();
    try {
        timer_ = scheduler_.repeat(kTickSeconds, [this] { tick(); });
    } catch (...) {
        stop();
        throw;
    }
    notify();
}

AudioStreamRequest AudioTransport::checkInput() const { return recorder_->checkInput(); }

void AudioTransport::record(const RecordingSetup& setup, const std::function<bool()>& cancelled) {
    stop();
    if (recording_ || recorder_->active()) return;
    recorder_->start(setup, cancelled);
    monitoring_ = recorder_->monitoring();
    overdubbing_ = recorder_->overdubbing();
    recordingLatency_ = recorder_->latency();
    position_ = std::isfinite(setup.plan.origin) ? setup.plan.origin : 0.0;
    leftLevel_ = rightLevel_ = 0.0f;
    recording_ = true;
    watch(recorder_->cycles());
    try {
        timer_ = scheduler_.repeat(kTickSeconds, [this] { tick(); });
    } catch (...) {
        recording_ = false;
        monitoring_ = overdubbing_ = false;
        try {
            recorder_->stop();
        } catch (...) {
        }
        throw;
    }
    notify();
}

void AudioTransport::stopRecording() { endRecording(false); }

void AudioTransport::endRecording(bool serverLost) {
    if (!recording_) return;
    std::optional<RecordedTake> take;
    std::exception_ptr error;
    // A device that no longer calls is hardly waited for.
    const auto deadline = std::chrono::steady_clock::now() + (serverLost ? kSilentStopLimit : kStreamStopLimit);
    try {
        take = recorder_->stop(deadline);
        take->serverLost = serverLost;
    } catch (...) {
        error = std::current_exception();
    }
    teardownPlayback();
    // Destroying the timer from inside its own tick is allowed.
    timer_.reset();
    recording_ = false;
    monitoring_ = false;
    leftLevel_ = rightLevel_ = 0.0f;
    notify();
    if (take) {
        if (recordingFinished) recordingFinished(std::move(*take));
    } else if (failed) {
        failed(error);
    }
}

bool AudioTransport::waitUntilCaptureIdle(std::chrono::milliseconds timeout) const {
    return recorder_->waitUntilIdle(timeout);
}

void AudioTransport::tickRecording() {
    const AudioRecorder::Progress progress = recorder_->tick();
    position_ = progress.position;
    leftLevel_ = progress.leftLevel;
    rightLevel_ = progress.rightLevel;
    if (progress.reachedEnd)
        stopRecording();
    else if (silent(progress.cycles))
        endRecording(true);
}

void AudioTransport::stop() {
    teardownPlayback();
    playing_ = false;
    if (!recording_) timer_.reset();
    leftLevel_ = rightLevel_ = 0.0f;
    momentaryLUFS_.reset();
    shortTermLUFS_.reset();
    phaseCorrelation_.reset();
    notify();
}

void AudioTransport::teardownPlayback() {
    generation_ = Uuid::random();
    if (voice_) voice_->hush();
    if (stream_) {
        std::erase_if(stopping_, [](const Stopping& s) { return s.stop->done(); });
        if (auto stop = stopStreamLater(std::move(stream_), voice_))
            stopping_.push_back({std::move(stop), std::chrono::steady_clock::now() + kStreamStopLimit});
    }
    voice_.reset();
    audio_ = AudioData();
    // While recording, the playback is the overdub.
    if (recorder_) recorder_->stopOverdub();
    overdubbing_ = false;
}

void AudioTransport::tick() noexcept {
    try {
        if (recording_)
            tickRecording();
        else
            tickPlayback();
        notify();
    } catch (...) {
        // Nothing may leave the timer's tick: a throwing owner callback is reported instead.
        try {
            if (failed) failed(std::current_exception());
        } catch (...) {
        }
    }
}

void AudioTransport::watch(std::uint64_t cycles) {
    watchedCycles_ = cycles;
    quietSince_ = scheduler_.now();
}

bool AudioTransport::silent(std::uint64_t cycles) {
    if (cycles != watchedCycles_) {
        watch(cycles);
        return false;
    }
    return scheduler_.now() - quietSince_ >= kSilentSeconds;
}

void AudioTransport::tickPlayback() {
    if (!voice_) return;
    if (silent(voice_->cycles())) {
        // The sound server stopped or went away.
        stop();
        throw PlaybackLost();
    }
    if (!loop_ && voice_->finished() && tailHeard()) {
        finishNaturally(voice_->generation());
        return;
    }
    const std::int64_t played = voice_->playedFrames();
    const std::int64_t frames = audio_.frames();
    if (played < 0 || frames < 1) return;

    const std::int64_t t = loop_ ? played % frames : std::min(played, frames);
    position_ = start_ + framesToSeconds(t);

    const std::int64_t frame = std::min(frames - 1, t);
    const std::int64_t end = std::min(frame + kLevelFrames, frames);
    leftLevel_ = peak(audio_.left.data(), frame, end);
    rightLevel_ = peak(audio_.right.data(), frame, end);
    feedMeters(frame);
}

bool AudioTransport::tailHeard() {
    // The device (a sound server above all) still holds the last frames when they have been
    // handed over; stopping now would throw them away. Wait until the stream's clock has passed
    // the moment the last frame is heard, or at most kMaxTailSeconds of ticks should the clock
    // stand still.
    ++tailTicks_;
    if (static_cast<double>(tailTicks_) * kTickSeconds >= kMaxTailSeconds) return true;
    const std::optional<double> stamped = voice_->lastFrameHeard();
    double latency = stream_ ? stream_->outputLatency() : 0.0;
    if (!std::isfinite(latency) || latency < 0.0) latency = 0.0;
    const double heard = stamped ? *stamped : voice_->finishedCycleEnd() + std::min(latency, kMaxTailSeconds);
    return !stream_ || stream_->time() >= heard;
}

void AudioTransport::finishNaturally(const Uuid& captured) {
    if (captured != generation_) return;
    const double end = start_ + framesToSeconds(audio_.frames());
    stop();
    position_ = end;
    notify();
    if (playbackFinished) playbackFinished(position_);
}

void AudioTransport::resetMeters() {
    meter_.reset();
    meteredFrame_ = 0;
    meterTick_ = 0;
    momentaryLUFS_.reset();
    shortTermLUFS_.reset();
    phaseCorrelation_.reset();
}

void AudioTransport::feedMeters(std::int64_t frame) {
    const std::int64_t frames = audio_.frames();
    const std::int64_t end = std::min(frames, frame);
    if (end < meteredFrame_) {
        // The loop wrapped: the rest of the audio first, at most the last 3 s of it.
        meterRange(std::max(meteredFrame_, frames - kMaxMeteredFrames), frames);
        meteredFrame_ = 0;
    }
    // Never more than the last 3 s in one go, so a jump does not stall the main thread.
    meteredFrame_ = std::max(end - kMaxMeteredFrames, meteredFrame_);
    meterRange(meteredFrame_, end);
    meteredFrame_ = end;

    meterTick_ += 1;
    if (meterTick_ % 3 == 0) {
        momentaryLUFS_ = meter_.momentary();
        shortTermLUFS_ = meter_.shortTerm();
        phaseCorrelation_ = meter_.correlation();
    }
}

void AudioTransport::meterRange(std::int64_t from, std::int64_t to) {
    if (from < 0 || to <= from || to > audio_.frames()) return;
    meter_.process(audio_.left.data() + from, audio_.right.data() + from, to - from);
}

void AudioTransport::notify() {
    if (changed) changed();
}

}  // namespace tessoral
