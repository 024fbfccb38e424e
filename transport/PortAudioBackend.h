#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "transport/AudioBackend.h"

namespace tessoral {

// The device backend over PortAudio (its ALSA and JACK host APIs; PulseAudio and PipeWire
// appear through ALSA as "pulse", "pipewire" and "default"). ALSA's and JACK's own error
// printing is silenced before PortAudio starts, and standard error is closed off while it
// probes the devices (plugins that print past ALSA's handler), so probing absent hardware, an
// absent JACK server or a noisy plugin prints nothing. A device's uid is "host API/device name", with " #2", " #3",
// … for the second and later devices of the same name. Only one instance may exist at a time.
class PortAudioBackend final : public AudioBackend {
public:
    PortAudioBackend();
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    std::vector<BackendDevice> deviceTable() const override;
    // Restarts PortAudio to see devices plugged in or removed since; refused with a stream open.
    bool refreshDevices() override;
    std::unique_ptr<AudioStream> openStream(const AudioStreamRequest& request, AudioCallback& callback) override;
    std::optional<std::uint32_t> defaultInputDevice() const override;

    bool hasOutputDevice() const;

    // The uids of devices given as (host API name, device name), in order: "host/name", the
    // second and later of equal names suffixed " #2", " #3", …; empty when a name is empty.
    static std::vector<std::string> deviceUIDs(const std::vector<std::pair<std::string, std::string>>& hostAndName);

    // Installs the silent ALSA and JACK error handlers (done by the constructor; idempotent).
    static void silenceLibraryMessages();

private:
    friend class PortAudioStream;
    void scan();

    // PortAudio's list of open streams and its device scan are not thread-safe: opening, closing
    // and rescanning take turns (a probe opens an input on a worker).
    mutable std::recursive_mutex mutex_;
    bool initialized_ = false;
    int openStreams_ = 0;
    std::vector<BackendDevice> devices_;
};

}  // namespace tessoral
