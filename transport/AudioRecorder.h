#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "model/AudioData.h"
#include "transport/AudioBackend.h"
#include "transport/PunchPlan.h"
#include "transport/RecordedTake.h"

namespace tessoral {

class CaptureGate;
class CaptureProcessor;
class CaptureRing;
class Defaults;
class MonitorRing;
class RecordingBuffer;

// What the store asks of one recording.
struct RecordingSetup {
    PunchPlan plan;                            // where the capture lands
    std::int64_t maximumFrames = 0;            // frames the project still has room for
    std::optional<AudioData> playback;         // what plays while recording (mix and/or clicks)
    std::optional<float> monitorLevel;         // monitoring volume 0…1; none = no monitoring
    double manualLatencyMilliseconds = 0.0;    // the user's latency correction
};

// The capture side of the transport: records the chosen input device into memory at 48 kHz,
// optionally plays an overdub buffer aligned with the capture, optionally lets the performer hear
// the input, and measures the latency to compensate. Used from the main thread only.
//
// Threads: the input device's real-time callback only copies each buffer and its capture time
// into a preallocated ring (and, when monitoring directly, copies the input to the output); a
// capture thread runs the per-buffer step (gate, conversion, monitor ring, recording buffer); a
// separate monitor output only tries the monitor ring's lock.
class AudioRecorder {
public:
    // One spare second beyond the project's room.
    static constexpr std::int64_t kSpareFrames = 48000;
    // The overdub playback starts this far ahead of the moment it is scheduled.
    static constexpr double kOverdubLeadSeconds = 0.12;
    // Running peaks decay by this factor per tick.
    static constexpr float kPeakDecay = 0.4f;

    // The backend and settings must outlive the recorder.
    AudioRecorder(AudioBackend& backend, const Defaults& defaults);
    ~AudioRecorder();
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    // Starts capturing. Does nothing while a capture runs. Throws StudioError with the message of
    // the failure (access refused, chosen input missing, no input format, format not supported,
    // device does not start, overdub playback failed), or CancellationError when `cancelled`
    // reports true once access was granted; nothing runs afterwards then.
    void start(const RecordingSetup& setup, const std::function<bool()>& cancelled = {});
    // Throws the StudioError start() would throw when no input device can be had (the chosen
    // one missing, or no default input with a usable format); opens nothing. Returns the request
    // that opens the input as start() does, for probeInput().
    AudioStreamRequest checkInput() const;
    // Opens the input of `request` and closes it again, unstarted (a start through a sound
    // server waits for its first buffer, up to seconds); throws the StudioError start() would
    // give when it does not open. Opening may wait on a sound server: call it off the main
    // thread (the backends allow that).
    static void probeInput(AudioBackend& backend, const AudioStreamRequest& request);

    bool active() const { return active_; }
    // The input is heard on the output.
    bool monitoring() const { return monitoring_; }
    // The overdub buffer plays.
    bool overdubbing() const { return overdubbing_; }
    // Seconds of latency left to compensate: the user's correction. The device latencies need
    // none: the capture gate and the overdub start are placed by the devices' own timestamps,
    // which include them, so capture frame 0 is what the input heard when the overdub's first
    // frame came out of the output.
    double latency() const { return latency_; }
    // Captured frame at which the recording should end (the punch-out frame plus the latency).
    std::int64_t captureStopFrame() const { return captureStopFrame_; }

    // Ends the overdub playback only; the capture and the monitoring go on.
    void stopOverdub() noexcept;

    struct Progress {
        double position = 0.0;  // timeline second of the capture's end
        float leftLevel = 0.0f;
        float rightLevel = 0.0f;
        bool reachedEnd = false;  // the buffer is full or the punch-out frame is reached
        std::uint64_t cycles = 0;  // see cycles()
    };
    // The input device's callback cycles so far (one that stopped calling leaves it standing).
    std::uint64_t cycles() const;
    // The recording tick: position and decaying input peaks. Zeros when no capture runs.
    Progress tick();

    // Ends the capture and hands back what was captured, what was lost, and whether the devices
    // reported a dropout while the take ran (input) or the overdub played (output). Throws
    // StudioError "Запись не содержит звука. Проверьте выбранный микрофон." when nothing was captured (also
    // when no capture ran).
    // Streams that have not stopped by `deadline` are left to stop by themselves.
    RecordedTake stop(std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kStreamStopLimit);

    // Waits at most `timeout` until the capture thread has handled every captured buffer; true
    // when it has. For tests and shutdown.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;

    // For tests: while held, the capture thread takes nothing from the ring, as one that the
    // system does not schedule; what the input delivers meanwhile piles up and overruns it.
    // stop() lets go of it first.
    void holdCaptureThread(bool held) { workerHeld_.store(held); }

    class InputCallback;
    class MonitorCallback;
    class OverdubCallback;

private:
    struct Device {
        std::optional<std::uint32_t> id;  // none = the default input
        double sampleRate = 0.0;
        int channels = 0;
    };
    Device inputDevice(const std::string& uid) const;
    // inputDevice(), refused unless it has a rate and a channel.
    Device usableInput(const std::string& uid) const;
    std::unique_ptr<AudioStream> openOutput(const std::string& uid, const std::shared_ptr<AudioCallback>& callback,
                                            std::chrono::steady_clock::time_point deadline);
    void startWorker();
    void stopWorker();
    void workerLoop();
    // Stops every stream by `deadline` (see stopStreamBy): one left to stop by itself is gone from
    // here, and the capture thread has drained everything captured before, which the take keeps.
    void teardown(std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kStreamStopLimit) noexcept;

    AudioBackend& backend_;
    const Defaults& defaults_;

    bool active_ = false;
    bool monitoring_ = false;
    bool overdubbing_ = false;
    double latency_ = 0.0;
    std::int64_t captureStopFrame_ = std::numeric_limits<std::int64_t>::max();
    double origin_ = 0.0;
    double inputRate_ = 0.0;

    std::shared_ptr<CaptureGate> gate_;
    std::shared_ptr<RecordingBuffer> buffer_;
    std::shared_ptr<MonitorRing> monitorRing_;
    std::shared_ptr<CaptureRing> ring_;
    std::unique_ptr<CaptureProcessor> processor_;

    // Callbacks outlive the streams that call them: declared first, destroyed last. Shared with
    // a stream that did not stop in time (see stopStream).
    std::shared_ptr<InputCallback> inputCallback_;
    std::shared_ptr<MonitorCallback> monitorCallback_;
    std::shared_ptr<OverdubCallback> overdubCallback_;
    std::unique_ptr<AudioStream> captureStream_;
    std::unique_ptr<AudioStream> monitorStream_;
    std::unique_ptr<AudioStream> overdubStream_;

    std::thread worker_;
    mutable std::mutex workerMutex_;
    std::condition_variable workerWake_;
    bool workerQuit_ = false;              // under workerMutex_
    std::atomic<bool> workerBusy_{false};  // the capture thread is handling a buffer
    std::atomic<bool> workerHeld_{false};  // see holdCaptureThread
    std::atomic<std::int64_t> workerLost_{0};  // input frames of buffers the capture thread could not convert
    // The take ends at this many kept frames (the buffer's limit or the punch-out); set before the
    // capture thread starts. The capture thread notes the input lost (dropped by the ring or the
    // converter) before the take's first kept frame and up to its end, and the device clock's time
    // at both (NaN when unknown); read once it has ended.
    std::int64_t takeEnd_ = std::numeric_limits<std::int64_t>::max();
    bool takeStarted_ = false;
    std::int64_t lostBeforeTake_ = 0;
    std::int64_t lostUpToTakeEnd_ = 0;
    double takeStartTime_ = NAN;
    double takeEndTime_ = NAN;
    std::int64_t keptAtTakeEnd_ = 0;  // frames the take held at that end
    // Input gaps the device reported up to the take's first kept frame and up to its end.
    std::int64_t gapsBeforeTake_ = 0;
    std::int64_t gapsUpToTakeEnd_ = 0;
};

}  // namespace tessoral
