#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "model/AudioData.h"
#include "model/BeatGrid.h"
#include "model/Uuid.h"
#include "transport/AudioBackend.h"
#include "transport/LiveLoudnessMeter.h"
#include "transport/RecordedTake.h"

namespace tessoral {

class AudioRecorder;
class AudioStream;
class Defaults;
class PlaybackVoice;
class RepeatingTimer;
class Scheduler;
struct RecordingSetup;

// Playback that the sound server ended by no longer calling; the transport's position is where it
// was last heard.
class PlaybackLost final : public SoundServerFault {
public:
    PlaybackLost();
};

// The one object that plays and records through the audio devices. It plays a rendered 48 kHz
// stereo mix from a timeline position, once or looped, with optional metronome clicks, and
// publishes the playhead and the live meters; it records the chosen input into memory (through
// its AudioRecorder) and publishes the recording position and input levels. Everything here runs
// on the main thread; only the voice it plays and the capture run on audio threads.
class AudioTransport {
public:
    // A playback opened ahead of play(), possibly on a worker: its voice and the running stream
    // that plays it (declared after the voice, so it goes first).
    struct Prepared {
        AudioData audio;
        double start = 0.0;
        bool loop = false;
        std::shared_ptr<PlaybackVoice> voice;
        std::unique_ptr<AudioStream> stream;
    };

    static constexpr double kTickSeconds = 1.0 / 30.0;
    // Frames of one tick at 48 kHz, scanned for the peak levels.
    static constexpr std::int64_t kLevelFrames = 1600;
    // At most this many frames (3 s) are metered in one tick.
    static constexpr std::int64_t kMaxMeteredFrames = 144000;
    // At a natural end, the longest wait for the device to play out what it holds.
    static constexpr double kMaxTailSeconds = 1.0;
    // A stream whose device has not called it for this long (on the scheduler's clock) counts as
    // lost with its sound server. A working server on a busy machine can fall silent for several
    // seconds (6 s seen beside a full test run) and then go on: that must not end playback or a take.
    static constexpr double kSilentSeconds = 8.0;

    // The backend, scheduler and settings must outlive the transport.
    AudioTransport(AudioBackend& backend, Scheduler& scheduler, const Defaults& defaults);
    ~AudioTransport();
    AudioTransport(const AudioTransport&) = delete;
    AudioTransport& operator=(const AudioTransport&) = delete;

    // Published state.
    bool playing() const { return playing_; }
    bool recording() const { return recording_; }
    double position() const { return position_; }  // playhead in timeline seconds
    float leftLevel() const { return leftLevel_; }
    float rightLevel() const { return rightLevel_; }
    std::optional<double> momentaryLUFS() const { return momentaryLUFS_; }
    std::optional<double> shortTermLUFS() const { return shortTermLUFS_; }
    std::optional<double> phaseCorrelation() const { return phaseCorrelation_; }
    bool monitoring() const { return monitoring_; }
    bool overdubbing() const { return overdubbing_; }
    // Seconds by which the running recording's take is still to be moved: the user's correction
    // (the device latencies are in the timestamps the capture is aligned by).
    double recordingLatency() const { return recordingLatency_; }
    // Replaced by every start and teardown of playback.
    const Uuid& generation() const { return generation_; }

    // Set once by the owner; called on the main thread.
    // The take, with the input frames lost on the way when the capture fell behind.
    std::function<void(RecordedTake)> recordingFinished;
    std::function<void(double)> playbackFinished;  // the final position
    std::function<void(std::exception_ptr)> failed;
    // Some published value may have changed (after play, stop and every tick).
    std::function<void()> changed;

    // Plays `audio`, whose frame 0 sounds at timeline second `start`, once or looped, with
    // the clicks of `clicks` when given. Stops whatever played first. Throws PlatformError when
    // the device does not open or start; the transport is then stopped. Audio without frames
    // plays nothing (the transport is left stopped).
    void play(const AudioData& audio, double start, bool loop, std::optional<BeatGrid> clicks);
    // Opens and starts the output for such a playback, on any thread: the output device chosen
    // by `outputUID` (the default output when it is unknown or refuses). Throws PlatformError when
    // no device opens and SoundServerSilent when the sound server does not answer by `deadline`.
    // Frame 0 of `audio` sounds at once; the voice's generation becomes the transport's at play().
    static Prepared prepare(AudioBackend& backend, const std::string& outputUID, const AudioData& audio, double start,
                            bool loop, const std::optional<BeatGrid>& clicks,
                            std::chrono::steady_clock::time_point deadline);
    // Stops whatever played and plays what prepare() opened.
    void play(Prepared prepared);
    // Ends playback at once; safe at any time. The device falls silent at once and stops on a
    // thread of its own, which nobody waits for (a sound server that no longer answers keeps it
    // waiting): only the transport's end waits, kStreamStopLimit after each stop at most.
    void stop();
    // Waits at most `timeout` until every stopped playback's device has stopped and closed; true
    // when they have. For tests.
    bool waitUntilStopped(std::chrono::milliseconds timeout) const;

    // Stops playback and starts recording as `setup` says. Does nothing while recording. Throws
    // StudioError with the reason when the capture cannot start (or CancellationError when
    // `cancelled` says so once access was granted); the transport is then not recording.
    void record(const RecordingSetup& setup, const std::function<bool()>& cancelled = {});
    // Throws the StudioError record() would give when there is no input device to record from;
    // returns the request that opens it, for AudioRecorder::probeInput().
    AudioStreamRequest checkInput() const;
    // Ends the recording and hands the take to `recordingFinished`, or an empty take to `failed`.
    // Nothing unless recording; also called by the tick at the punch-out frame or the buffer limit.
    void stopRecording();
    // Waits at most `timeout` until every captured buffer has been handled; true when it has.
    // For tests and shutdown.
    bool waitUntilCaptureIdle(std::chrono::milliseconds timeout) const;

private:
    void tick() noexcept;
    void tickPlayback();
    void tickRecording();
    bool tailHeard();
    void finishNaturally(const Uuid& captured);
    void teardownPlayback();
    // Whether the callback counted by `cycles` stood still for kSilentSeconds (see there) since
    // watch() or since the count last moved.
    bool silent(std::uint64_t cycles);
    void watch(std::uint64_t cycles);
    void endRecording(bool serverLost);
    void resetMeters();
    void feedMeters(std::int64_t frame);
    void meterRange(std::int64_t from, std::int64_t to);
    void notify();

    AudioBackend& backend_;
    Scheduler& scheduler_;
    const Defaults& defaults_;

    bool playing_ = false;
    bool recording_ = false;
    double position_ = 0.0;
    float leftLevel_ = 0.0f;
    float rightLevel_ = 0.0f;
    std::optional<double> momentaryLUFS_;
    std::optional<double> shortTermLUFS_;
    std::optional<double> phaseCorrelation_;
    bool monitoring_ = false;
    bool overdubbing_ = false;
    double recordingLatency_ = 0.0;

    Uuid generation_;
    // What the running playback plays (the tick reads it for the meters).
    AudioData audio_;
    double start_ = 0.0;
    bool loop_ = false;
    int tailTicks_ = 0;  // ticks since the last frame was handed to the device
    // The watched stream's last cycle count and the clock when it changed.
    std::uint64_t watchedCycles_ = 0;
    double quietSince_ = 0.0;  // on the scheduler's clock
    // The voice outlives the stream that calls it: declared first, destroyed last; shared with
    // the thread that stops the stream.
    std::shared_ptr<PlaybackVoice> voice_;
    std::unique_ptr<AudioStream> stream_;
    // The devices of stopped playbacks still stopping, each with the time its stop is waited
    // for until when the transport ends.
    struct Stopping {
        std::shared_ptr<StreamStop> stop;
        std::chrono::steady_clock::time_point deadline;
    };
    std::vector<Stopping> stopping_;
    std::unique_ptr<RepeatingTimer> timer_;
    std::unique_ptr<AudioRecorder> recorder_;

    LiveLoudnessMeter meter_;
    std::int64_t meteredFrame_ = 0;
    std::int64_t meterTick_ = 0;
};

}  // namespace tessoral
