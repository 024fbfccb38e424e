#include "transport/PortAudioBackend.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <portaudio.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StandardError.h"
#include "model/StudioError.h"

namespace tessoral {

namespace {

void silentAlsa(const char*, int, const char*, int, const char*, ...) {}
void silentJack(const char*) {}

// Sends the process's standard error to /dev/null while it lives. Some ALSA plugins (the jack
// PCM among them) print to it directly, past ALSA's error handler, when PortAudio opens them to
// list the devices; the program's start must stay quiet whatever plugins are installed. Anything
// another thread writes meanwhile is lost too, which is why only the device scans and PortAudio's
// start and end are wrapped. Scopes on several threads take turns.
class QuietStderr {
public:
    QuietStderr() : guard_(turn()) {
        std::fflush(stderr);
        saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        const int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && sink >= 0) {
            StandardError::divert(saved_);  // the program's own lines still reach it
            quiet_ = ::dup2(sink, STDERR_FILENO) >= 0;
        }
        if (sink >= 0) ::close(sink);
    }
    ~QuietStderr() {
        std::fflush(stderr);
        if (quiet_) ::dup2(saved_, STDERR_FILENO);
        StandardError::divert(-1);
        if (saved_ >= 0) ::close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    static std::mutex& turn() {
        static std::mutex m;
        return m;
    }
    std::lock_guard<std::mutex> guard_;
    int saved_ = -1;
    bool quiet_ = false;
};

// The library's own texts (English, and about its own notions: "Illegal combination of I/O devices"
// is what ALSA's every failed opening but a busy device reads as) never reach a person; the
// program says what it knows in its own words.
[[noreturn]] void throwOpen(PaError error) {
    if (error == paDeviceUnavailable)
        throw PlatformError(L("Звуковое устройство занято другой программой. Закройте её или выберите другое устройство в настройках."));
    throw PlatformError(L("Не удалось открыть звуковое устройство. Проверьте, что оно подключено, или выберите другое в настройках."));
}

// Whether the sound server behind the ALSA device `name` (a pulse or pipewire PCM) refuses the
// connection: it is not running. The library folds that into its device error; ALSA tells it.
// A hardware device, an unknown name or a device that opens say nothing of the kind.
bool serverRefuses(const char* name, snd_pcm_stream_t direction) {
    if (!name || !*name) return false;
    snd_pcm_t* pcm = nullptr;
    const int error = snd_pcm_open(&pcm, name, direction, SND_PCM_NONBLOCK);
    if (error >= 0) {
        snd_pcm_close(pcm);
        return false;
    }
    return error == -ECONNREFUSED || error == -EHOSTDOWN;
}

// Whether a sound server that ALSA is set up for (as the default device, or PulseAudio's or
// PipeWire's own device) refuses the connection: installed, but not running (which refuses
// recording and playing alike).
bool anyServerRefuses() {
    for (const char* name : {"default", "pipewire", "pulse"})
        if (serverRefuses(name, SND_PCM_STREAM_PLAYBACK)) return true;
    return false;
}

}  // namespace

// PortAudio's state. Its list of open streams and its device scan are not thread-safe: opening,
// closing and rescanning take turns. A scan or an opening that a sound server keeps waiting keeps
// the turn meanwhile, so the device list is read under a lock of its own.
struct PortAudioBackend::Library {
    std::recursive_mutex turn;
    bool initialized = false;  // under turn
    int openStreams = 0;       // under turn
    mutable std::mutex listMutex;
    std::vector<BackendDevice> devices;          // under listMutex
    std::optional<std::uint32_t> defaultInput;  // under listMutex
    bool serverGone = false;                     // under listMutex

    void scan();     // under turn
    void restart();  // under turn, with no stream open
    bool refresh();
    static std::unique_ptr<AudioStream> open(const std::shared_ptr<Library>& self, const AudioStreamRequest& request,
                                             AudioCallback& callback);
};

class PortAudioStream final : public AudioStream {
public:
    PortAudioStream(std::shared_ptr<PortAudioBackend::Library> library, AudioCallback& callback)
        : library_(std::move(library)), callback_(callback) {}

    ~PortAudioStream() override {
        std::lock_guard lock(library_->turn);
        if (stream_) {
            Pa_StopStream(stream_);
            Pa_CloseStream(stream_);
            --library_->openStreams;
        }
    }

    void open(const AudioStreamRequest& request) {
        request_ = request;
        PaStreamParameters& out = out_;
        PaStreamParameters& in = in_;
        PaStreamParameters* outPtr = nullptr;
        PaStreamParameters* inPtr = nullptr;
        const PaDeviceIndex count = Pa_GetDeviceCount();
        auto pick = [count](std::optional<std::uint32_t> id, PaDeviceIndex fallback) -> PaDeviceIndex {
            if (!id) return fallback;
            if (*id >= static_cast<std::uint32_t>(std::max<PaDeviceIndex>(count, 0))) return paNoDevice;
            return static_cast<PaDeviceIndex>(*id);
        };
        // One direction's parameters: the chosen device (or the default), float, one buffer per channel.
        auto configure = [&](PaStreamParameters& p, std::optional<std::uint32_t> id, PaDeviceIndex fallback,
                             int channels, bool output) {
            p.device = pick(id, fallback);
            if (p.device == paNoDevice) {
                // No device at all while the server that brings them is not running.
                if (anyServerRefuses()) throw SoundServerGone();
                throwOpen(paInvalidDevice);
            }
            const PaDeviceInfo* info = Pa_GetDeviceInfo(p.device);
            if (!info) throwOpen(paInvalidDevice);
            p.channelCount = channels;
            p.sampleFormat = paFloat32 | paNonInterleaved;
            p.suggestedLatency = output ? (request.lowLatency ? info->defaultLowOutputLatency : info->defaultHighOutputLatency)
                                        : (request.lowLatency ? info->defaultLowInputLatency : info->defaultHighInputLatency);
        };
        if (request.outputChannels > 0) {
            configure(out, request.outputDevice, Pa_GetDefaultOutputDevice(), request.outputChannels, true);
            outPtr = &out;
        }
        if (request.inputChannels > 0) {
            configure(in, request.inputDevice, Pa_GetDefaultInputDevice(), request.inputChannels, false);
            inPtr = &in;
        }
        if (!outPtr && !inPtr) throwOpen(paInvalidChannelCount);
        const PaError error = Pa_OpenStream(&stream_, inPtr, outPtr, request.sampleRate, paFramesPerBufferUnspecified,
                                            paNoFlag, &PortAudioStream::render, this);
        if (error != paNoError) {
            stream_ = nullptr;
            if (serverRefuses(alsaName(outPtr), SND_PCM_STREAM_PLAYBACK) || serverRefuses(alsaName(inPtr), SND_PCM_STREAM_CAPTURE))
                throw SoundServerGone();
            throwOpen(error);
        }
        ++library_->openStreams;
    }

    void start() override {
        if (!stream_ || Pa_IsStreamActive(stream_) == 1) return;
        PaError error = Pa_StartStream(stream_);
        // The library waits a second for its callback thread to start and then gives up on it; on a
        // loaded machine the thread may start later. The stream is left stopped: once more.
        if (error == paTimedOut && Pa_IsStreamStopped(stream_) == 1) error = Pa_StartStream(stream_);
        if (error == paNoError) return;
        if (serverRefuses(alsaName(request_.outputChannels > 0 ? &out_ : nullptr), SND_PCM_STREAM_PLAYBACK) ||
            serverRefuses(alsaName(request_.inputChannels > 0 ? &in_ : nullptr), SND_PCM_STREAM_CAPTURE))
            throw SoundServerGone();
        throw PlatformError(L("Не удалось запустить звуковое устройство. Проверьте, что оно подключено, или выберите другое в настройках."));
    }

    void stop() noexcept override {
        if (stream_ && Pa_IsStreamStopped(stream_) == 0) Pa_StopStream(stream_);
    }

    double sampleRate() const override {
        const PaStreamInfo* info = stream_ ? Pa_GetStreamInfo(stream_) : nullptr;
        return info ? info->sampleRate : request_.sampleRate;
    }
    int inputChannels() const override { return std::max(request_.inputChannels, 0); }
    double inputLatency() const override {
        const PaStreamInfo* info = stream_ ? Pa_GetStreamInfo(stream_) : nullptr;
        return info ? info->inputLatency : 0.0;
    }
    double outputLatency() const override {
        const PaStreamInfo* info = stream_ ? Pa_GetStreamInfo(stream_) : nullptr;
        return info ? info->outputLatency : 0.0;
    }
    double time() const override { return stream_ ? Pa_GetStreamTime(stream_) : 0.0; }

private:
    // PortAudio's real-time thread.
    static int render(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                      PaStreamCallbackFlags flags, void* user) noexcept {
        auto* self = static_cast<PortAudioStream*>(user);
        AudioBlock block;
        block.input = static_cast<const float* const*>(input);
        block.inputChannels = input ? std::max(self->request_.inputChannels, 0) : 0;
        block.output = static_cast<float* const*>(output);
        block.outputChannels = output ? std::max(self->request_.outputChannels, 0) : 0;
        block.frames = static_cast<std::int64_t>(frames);
        block.inputGap = (flags & (paInputUnderflow | paInputOverflow)) != 0;
        block.outputGap = (flags & (paOutputUnderflow | paOutputOverflow)) != 0;
        if (time) {
            block.inputTime = time->inputBufferAdcTime;
            block.outputTime = time->outputBufferDacTime;
            block.now = time->currentTime;
        }
        self->callback_.process(block);
        return paContinue;
    }

    // The ALSA name of the device `p` opens (ALSA's names are the devices' own); none for another
    // host or no device.
    static const char* alsaName(const PaStreamParameters* p) {
        if (!p || p->device == paNoDevice) return nullptr;
        const PaDeviceInfo* info = Pa_GetDeviceInfo(p->device);
        const PaHostApiInfo* host = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
        return host && host->type == paALSA ? info->name : nullptr;
    }

    const std::shared_ptr<PortAudioBackend::Library> library_;
    AudioCallback& callback_;
    AudioStreamRequest request_;
    PaStreamParameters out_{};
    PaStreamParameters in_{};
    PaStream* stream_ = nullptr;
};

void PortAudioBackend::silenceLibraryMessages() {
    snd_lib_error_set_handler(&silentAlsa);
    jack_set_error_function(&silentJack);
    jack_set_info_function(&silentJack);
}

PortAudioBackend::PortAudioBackend() : library_(std::make_shared<Library>()) {
    silenceLibraryMessages();
    std::lock_guard lock(library_->turn);
    QuietStderr quiet;
    library_->initialized = Pa_Initialize() == paNoError;
    library_->scan();
}

PortAudioBackend::~PortAudioBackend() {
    // A stream left to a device that did not stop is still open, and a scan or an opening may
    // still wait on a sound server: closing the library would wait for them too. The process is
    // ending; the system closes it.
    std::unique_lock lock(library_->turn, std::try_to_lock);
    if (!lock.owns_lock() || !library_->initialized || library_->openStreams > 0) return;
    QuietStderr quiet;
    Pa_Terminate();
    library_->initialized = false;
}

std::vector<std::string> PortAudioBackend::deviceUIDs(
    const std::vector<std::pair<std::string, std::string>>& hostAndName) {
    std::vector<std::string> uids;
    std::map<std::string, int> seen;
    for (const auto& [host, name] : hostAndName) {
        if (host.empty() || name.empty()) {
            uids.emplace_back();
            continue;
        }
        std::string uid = host + "/" + name;
        const int n = ++seen[uid];
        if (n > 1) uid += " #" + num::integer(n);
        uids.push_back(std::move(uid));
    }
    return uids;
}

void PortAudioBackend::Library::scan() {
    std::vector<BackendDevice> found;
    std::optional<std::uint32_t> input;
    if (initialized) {
        const PaDeviceIndex count = Pa_GetDeviceCount();
        std::vector<std::pair<std::string, std::string>> names;
        for (PaDeviceIndex i = 0; i < count; ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (!info) continue;
            const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
            BackendDevice device;
            device.id = static_cast<std::uint32_t>(i);
            device.name = info->name ? info->name : "";
            device.inputChannels = std::max(info->maxInputChannels, 0);
            device.outputChannels = std::max(info->maxOutputChannels, 0);
            device.defaultSampleRate = info->defaultSampleRate;
            names.emplace_back(host && host->name ? host->name : "", device.name);
            found.push_back(std::move(device));
        }
        const std::vector<std::string> uids = deviceUIDs(names);
        for (std::size_t i = 0; i < found.size(); ++i) found[i].uid = uids[i];
        const PaDeviceIndex index = Pa_GetDefaultInputDevice();
        if (index != paNoDevice && index >= 0) input = static_cast<std::uint32_t>(index);
    }
    // No output device: a sound server that is not running may be why (asked only then, as a
    // server that does not answer keeps the question waiting).
    const bool gone = std::none_of(found.begin(), found.end(), [](const BackendDevice& d) { return d.outputChannels > 0; }) &&
                      anyServerRefuses();
    std::lock_guard lock(listMutex);
    devices = std::move(found);
    defaultInput = input;
    serverGone = gone;
}

bool PortAudioBackend::Library::refresh() {
    std::lock_guard lock(turn);
    if (openStreams > 0) return false;
    QuietStderr quiet;
    restart();
    return true;
}

void PortAudioBackend::Library::restart() {
    if (initialized) Pa_Terminate();
    initialized = Pa_Initialize() == paNoError;
    scan();
}

std::unique_ptr<AudioStream> PortAudioBackend::Library::open(const std::shared_ptr<Library>& self,
                                                             const AudioStreamRequest& request, AudioCallback& callback) {
    std::lock_guard lock(self->turn);
    QuietStderr quiet;  // the library's own reports of a failed opening
    // No device known: a sound server started since the last scan brings its own.
    if (self->openStreams == 0 && (!self->initialized || Pa_GetDeviceCount() <= 0)) self->restart();
    if (!self->initialized) throwOpen(paNotInitialized);
    auto stream = std::make_unique<PortAudioStream>(self, callback);
    stream->open(request);
    return stream;
}

std::vector<BackendDevice> PortAudioBackend::deviceTable() const {
    std::lock_guard lock(library_->listMutex);
    return library_->devices;
}

bool PortAudioBackend::refreshDevices() { return library_->refresh(); }

bool PortAudioBackend::hasOutputDevice() const {
    std::lock_guard lock(library_->listMutex);
    return std::any_of(library_->devices.begin(), library_->devices.end(),
                       [](const BackendDevice& d) { return d.outputChannels > 0; });
}

bool PortAudioBackend::soundServerGone() const {
    std::lock_guard lock(library_->listMutex);
    return library_->serverGone;
}

bool PortAudioBackend::awaitsDevices() const {
    std::lock_guard lock(library_->listMutex);
    return library_->devices.empty();
}

std::optional<std::uint32_t> PortAudioBackend::defaultInputDevice() const {
    std::lock_guard lock(library_->listMutex);
    return library_->defaultInput;
}

std::unique_ptr<AudioStream> PortAudioBackend::openStream(const AudioStreamRequest& request, AudioCallback& callback) {
    return Library::open(library_, request, callback);
}

AudioBackend::Opener PortAudioBackend::opener() {
    return [library = library_](const AudioStreamRequest& request, AudioCallback& callback) {
        return Library::open(library, request, callback);
    };
}

std::function<bool()> PortAudioBackend::scanner() {
    return [library = library_] { return library->refresh(); };
}

}  // namespace tessoral
