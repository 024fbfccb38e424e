#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "model/Frames.h"
#include "model/StudioError.h"

namespace tessoral {

// One device as the backend sees it. `id` is valid until the backend's device list is
// refreshed; `uid` is stable while the hardware does not change; an empty `uid` or `name`
// means the backend could not read it.
struct BackendDevice {
    std::uint32_t id = 0;
    std::string uid;
    std::string name;
    int inputChannels = 0;
    int outputChannels = 0;
    double defaultSampleRate = kSampleRate;
    friend bool operator==(const BackendDevice&, const BackendDevice&) = default;
};

// What a stream should carry. Samples are 32-bit float, one buffer per channel.
struct AudioStreamRequest {
    int outputChannels = 2;                     // 0 = no output
    std::optional<std::uint32_t> outputDevice;  // none = the default output
    int inputChannels = 0;                      // 0 = no input
    std::optional<std::uint32_t> inputDevice;   // none = the default input
    double sampleRate = kSampleRate;
    bool lowLatency = false;  // ask for the device's low latency (monitoring) instead of its safe one
};

// One cycle of a stream, as the real-time thread hands it over.
struct AudioBlock {
    const float* const* input = nullptr;  // inputChannels buffers of `frames` samples
    int inputChannels = 0;
    float* const* output = nullptr;  // outputChannels buffers of `frames` samples, to be filled
    int outputChannels = 0;
    std::int64_t frames = 0;
    // Seconds on the stream's clock (AudioStream::time): when the first input frame was
    // captured, when the first output frame will be heard, and when the cycle began.
    double inputTime = 0.0;
    double outputTime = 0.0;
    double now = 0.0;
    // The device reported that it dropped or padded input before this cycle (an overflow), or
    // that it ran out of output or discarded some (an underflow): what follows is out of step
    // with what came before.
    bool inputGap = false;
    bool outputGap = false;
};

// The real-time side of a stream. `process` runs on the backend's audio thread: it must
// fill every output sample and must not allocate, wait on a lock or throw.
class AudioCallback {
public:
    virtual ~AudioCallback() = default;
    virtual void process(const AudioBlock& block) noexcept = 0;
};

// An open stream. Created stopped; destroying it stops and closes it. Once stop() or the
// destructor has returned, the callback is not running and will not be called again.
class AudioStream {
public:
    virtual ~AudioStream() = default;
    // Throws PlatformError when the device does not start.
    virtual void start() = 0;
    virtual void stop() noexcept = 0;
    virtual double sampleRate() const = 0;
    virtual int inputChannels() const = 0;
    // Seconds of latency the device reports (0 when unknown).
    virtual double inputLatency() const = 0;
    virtual double outputLatency() const = 0;
    // The stream's clock in seconds, the clock of AudioBlock's times.
    virtual double time() const = 0;
};

// How long the streams of one stop may take, together, before those still stopping are left to
// stop by themselves (a sound server that no longer answers never lets them stop).
extern const std::chrono::milliseconds kStreamStopLimit;

// Stops `stream` on a thread of its own and waits until `deadline` at most. A stream that has not
// stopped by then is left to that thread, which destroys it once the device lets it stop and then
// `callee` (what its callback uses); `stream` is empty then. Streams stopped one after another
// with the same deadline wait no longer together than one of them.
void stopStreamBy(std::unique_ptr<AudioStream>& stream, std::shared_ptr<const void> callee,
                  std::chrono::steady_clock::time_point deadline) noexcept;

// A stream that stops and closes on a thread of its own (see stopStreamLater).
class StreamStop {
public:
    // Whether the stream is stopped and closed.
    bool done() const;
    // Waits until `deadline` at most; true when the stream is stopped and closed.
    bool waitUntil(std::chrono::steady_clock::time_point deadline) const;
    // Called by the stopping thread once the stream is closed.
    void finish() noexcept;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable finished_;
    bool done_ = false;  // under mutex_
};

// Stops and closes `stream` on a thread of its own, which then lets go of `callee` (what its
// callback uses): the caller waits for nothing, however long the device takes to stop.
std::shared_ptr<StreamStop> stopStreamLater(std::unique_ptr<AudioStream> stream,
                                            std::shared_ptr<const void> callee) noexcept;

// How long the opening of a stream may keep its caller waiting, on a worker and on the main thread,
// before the sound server counts as not answering (a stopped one keeps an opening waiting 30 s).
// Nobody waits on the worker: it gives a server that a busy machine holds up for seconds the time
// to answer, and still tells of a stopped one well before the sound library gives up.
extern const std::chrono::milliseconds kStreamOpenLimit;
extern const std::chrono::milliseconds kMainThreadOpenLimit;

// The sound server, not the device, is why a stream did not open: the message names the server.
class SoundServerFault : public PlatformError {
public:
    using PlatformError::PlatformError;
};

// A device or sound server that did not answer in time; its message says so.
class SoundServerSilent final : public SoundServerFault {
public:
    SoundServerSilent();
};

// The sound server that carries a device is not running (it refused the connection).
class SoundServerGone final : public SoundServerFault {
public:
    SoundServerGone();
};

// Every opening waiting in openStreamBy, now and later, gives up at once with SoundServerSilent;
// what it opens meanwhile is left to its thread. For the program's end, which waits for no device.
void giveUpStreamOpenings() noexcept;
// Wakes the openings that wait for a backend to start (see AudioBackend::started).
void wakeStreamOpenings() noexcept;

class AudioBackend;

// Opens a stream for `callback` (and starts it when `start`) on a thread of its own and waits until
// `deadline` at most. An opening that has not ended by then is left to that thread, which
// destroys the stream once the device lets it (before it lets go of `callback`), and
// SoundServerSilent is thrown; so it is when the backend has not started by then (the opening then
// never begins). Otherwise returns the stream or throws what opening or starting threw.
std::unique_ptr<AudioStream> openStreamBy(AudioBackend& backend, const AudioStreamRequest& request,
                                          std::shared_ptr<AudioCallback> callback, bool start,
                                          std::chrono::steady_clock::time_point deadline);

// The platform's audio devices. Used from the main thread, except that a stream may also be
// opened, run and destroyed on one worker at a time (a probe of the input: opening may wait on a
// sound server); every stream it opened must be destroyed before it.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;

    // Whether the sound library has started and its devices are known (until then the device table
    // is empty). Thread-safe; once true, it stays true.
    virtual bool started() const { return true; }
    // Every device in the system's order.
    virtual std::vector<BackendDevice> deviceTable() const = 0;
    // Scans the devices again; refused (false) while a stream is open.
    virtual bool refreshDevices() = 0;
    // Opens a stream that calls `callback` once started. Throws PlatformError when the
    // device cannot be opened with the request. The callback must outlive the stream.
    virtual std::unique_ptr<AudioStream> openStream(const AudioStreamRequest& request, AudioCallback& callback) = 0;

    // openStream and refreshDevices as functions that may run on any thread and may outlive the
    // backend, so that an opening or a scan a sound server keeps waiting can be left behind at
    // the program's end. By default they call this backend, which must then outlive them.
    using Opener = std::function<std::unique_ptr<AudioStream>(const AudioStreamRequest&, AudioCallback&)>;
    virtual Opener opener() {
        return [this](const AudioStreamRequest& request, AudioCallback& callback) { return openStream(request, callback); };
    }
    virtual std::function<bool()> scanner() {
        return [this] { return refreshDevices(); };
    }

    // Whether the program may capture from the input devices. Linux asks no per-program
    // permission: granted unless a backend says otherwise.
    virtual bool requestInputAccess() { return true; }
    // The device that records when no input is chosen: by default the first device with
    // input channels; none without one.
    virtual std::optional<std::uint32_t> defaultInputDevice() const {
        for (const BackendDevice& d : deviceTable())
            if (d.inputChannels > 0) return d.id;
        return std::nullopt;
    }
    // Whether it lists no device while an opening may still tell why (a sound server that is not
    // running) or find devices the last scan missed (it has started since).
    virtual bool awaitsDevices() const { return false; }
    // Whether the last scan found no output device because the sound server that brings them
    // refuses connections: it is installed but not running. Thread-safe.
    virtual bool soundServerGone() const { return false; }

    // The program's backend: PortAudio over ALSA, PulseAudio/PipeWire (through ALSA) and
    // JACK; on a machine where it finds no output device and no sound server is set up, the null
    // backend paced by the monotonic clock, so playback runs silently with a moving playhead.
    static std::unique_ptr<AudioBackend> system();
};

// A backend made on a thread of its own: starting a sound library scans the devices, which a
// stopped sound server keeps waiting for minutes, and nobody waits with it. Until it is made the
// device table is empty, openings wait for it (as long as their caller waits) and a scan waits
// for it instead of scanning again. Then everything goes to the backend made. Destroying this
// waits for nothing: a start still under way is left to its thread.
class StartingAudioBackend final : public AudioBackend {
public:
    explicit StartingAudioBackend(std::function<std::unique_ptr<AudioBackend>()> make);
    ~StartingAudioBackend() override;

    bool started() const override;
    std::vector<BackendDevice> deviceTable() const override;
    bool refreshDevices() override;
    std::unique_ptr<AudioStream> openStream(const AudioStreamRequest& request, AudioCallback& callback) override;
    Opener opener() override;
    std::function<bool()> scanner() override;
    bool requestInputAccess() override;
    std::optional<std::uint32_t> defaultInputDevice() const override;
    bool awaitsDevices() const override;
    bool soundServerGone() const override;

    struct State;

private:
    std::shared_ptr<AudioBackend> made() const;
    std::shared_ptr<State> state_;
};

}  // namespace tessoral
