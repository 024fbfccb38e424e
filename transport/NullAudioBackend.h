#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transport/AudioBackend.h"

namespace tessoral {

class NullAudioStream;
class NullInputScript;

// A backend without hardware. In manual mode nothing runs by itself: pump() runs the
// callbacks of the started streams on the caller's thread, and the clock is the number of
// frames pumped. In paced mode every started stream has a thread that runs its callback in
// blocks of kBlockFrames on the monotonic clock, so time passes as on a real device and
// the output goes nowhere.
//
// Streams behave as a device with the latencies of setLatencies(): a cycle that runs at `now`
// stamps its input as captured at now − input latency and its output as heard at now + output
// latency. In manual mode the output really is heard that much later (pump() hands it out
// delayed), and stopping a stream throws away what it still had queued, as a sound server does.
class NullAudioBackend final : public AudioBackend {
public:
    enum class Mode { manual, paced };
    static constexpr std::int64_t kBlockFrames = 512;

    explicit NullAudioBackend(Mode mode = Mode::manual);
    ~NullAudioBackend() override;

    Mode mode() const { return mode_; }

    // The device table that deviceTable() reports (empty at first).
    void setDevices(std::vector<BackendDevice> devices);
    // The next openStream() throws a PlatformError with this detail (once).
    void failNextOpen(std::string detail);
    // While held, every opening and device scan waits, as on a sound server that does not answer.
    void hold(bool held);
    // What soundServerGone() reports, as of a sound server that is not running.
    void setSoundServerGone(bool gone) { serverGone_.store(gone); }
    bool soundServerGone() const override { return serverGone_.load(); }

    std::vector<BackendDevice> deviceTable() const override;
    bool refreshDevices() override;
    // Nothing to scan: the list is the one given (waits while held). Safe to leave running past
    // the backend.
    std::function<bool()> scanner() override;
    std::unique_ptr<AudioStream> openStream(const AudioStreamRequest& request, AudioCallback& callback) override;

    // Manual mode: runs every started stream's callback for `frames` frames in blocks of at
    // most kBlockFrames. Their first two output channels, as heard (the output latency after
    // they were rendered), are added into `left` and `right` when given (each `frames` long).
    // Does not allocate. Nothing in paced mode.
    void pump(std::int64_t frames, float* left = nullptr, float* right = nullptr);
    // Frames pumped so far in manual mode.
    std::int64_t pumpedFrames() const { return pumped_.load(); }

    // ---- input and faults, for tests ----
    // What input streams opened from now on capture instead of silence (null = silence).
    void setInput(std::shared_ptr<NullInputScript> script);
    // The latencies (seconds) that streams opened from now on report, stamp and (in manual mode)
    // delay their output by. Negative or non-finite values count as 0.
    void setLatencies(double input, double output);
    // Manual mode: input streams opened from now on capture what the output streams are heard
    // playing, as a microphone in front of the speakers (their input latency later), instead of
    // the input script. Output-only streams run before streams with input in each block.
    void setLoopback(bool on);
    // Input access is refused while set.
    void refuseInputAccess(bool refused);
    // The next stream start throws a PlatformError with this detail (once).
    void failNextStart(std::string detail);
    // Manual mode: in the next pumped block every running stream reports a gap in its input
    // and/or its output, as a device that overran or underran (once).
    void reportGapNextBlock(bool input, bool output);
    // The next openStream() with output channels throws a PlatformError with this detail (once).
    void failNextOutputOpen(std::string detail);
    // Every openStream() whose request `refused` holds for throws a PlatformError, as a device
    // that does not open (or not at that rate); null refuses none.
    void refuseStreams(std::function<bool(const AudioStreamRequest&)> refused);
    bool requestInputAccess() override;
    // Manual mode: while set, stopping a stream waits until it is cleared, as a device whose sound
    // server no longer answers.
    void holdStops(bool held);

    // The request of the most recently opened stream.
    std::optional<AudioStreamRequest> lastRequest() const;
    int openStreams() const;
    // Streams closed so far.
    int closedStreams() const;

private:
    friend class NullAudioStream;
    void detach(NullAudioStream* stream);
    // Loopback: what the output streams were heard playing, by pumped frame (a ring of kHeardFrames).
    static constexpr std::int64_t kHeardFrames = std::int64_t{1} << 18;
    void addHeard(std::int64_t from, std::int64_t frames, const float* left, const float* right) noexcept;
    void readHeard(std::int64_t from, std::int64_t frames, float* left, float* right) const noexcept;

    const Mode mode_;
    struct Hold;
    const std::shared_ptr<Hold> hold_;
    mutable std::mutex mutex_;  // guards the fields below (main thread against paced threads' close)
    std::vector<BackendDevice> devices_;
    std::optional<std::string> failure_;
    std::optional<AudioStreamRequest> lastRequest_;
    std::vector<NullAudioStream*> streams_;
    int closed_ = 0;
    std::atomic<std::int64_t> pumped_{0};
    std::atomic<bool> serverGone_{false};
    std::shared_ptr<NullInputScript> input_;
    double inputLatency_ = 0.0;
    double outputLatency_ = 0.0;
    bool inputRefused_ = false;
    bool loopback_ = false;
    std::vector<float> heardLeft_, heardRight_;  // kHeardFrames each while loopback is on
    std::optional<std::string> startFailure_;
    std::optional<std::string> outputFailure_;
    std::function<bool(const AudioStreamRequest&)> refused_;
    bool inputGapNext_ = false;
    bool outputGapNext_ = false;
    std::mutex holdMutex_;
    std::condition_variable released_;
    bool stopsHeld_ = false;  // under holdMutex_
};

}  // namespace tessoral
