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
    // With no device listed an opening scans again first, and tells of a server not running.
    bool awaitsDevices() const override;
    // Hold the library's state, not the backend: an opening or a scan left waiting on a sound
    // server ends by itself after the backend is gone, and the library is then left open.
    Opener opener() override;
    std::function<bool()> scanner() override;

    // A scan that found no output device asks whether a sound server ALSA is set up for (its default
    // device, PulseAudio's or PipeWire's) refuses to play: installed but not running.
    bool soundServerGone() const override;

    bool hasOutputDevice() const;

    // The uids of devices given as (host API name, device name), in order: "host/name", the
    // second and later of equal names suffixed " #2", " #3", …; empty when a name is empty.
    static std::vector<std::string> deviceUIDs(const std::vector<std::pair<std::string, std::string>>& hostAndName);

    // Installs the silent ALSA and JACK error handlers (done by the constructor; idempotent).
    static void silenceLibraryMessages();

    struct Library;

private:
    std::shared_ptr<Library> library_;
};

}  // namespace tessoral
