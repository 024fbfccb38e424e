#include "transport/AudioDevices.h"

#include "transport/AudioBackend.h"

namespace tessoral::AudioDevices {

std::vector<AudioDevice> devices(const AudioBackend& backend, AudioDeviceScope scope) {
    std::vector<AudioDevice> list;
    for (const BackendDevice& d : backend.deviceTable()) {
        const int channels = scope == AudioDeviceScope::input ? d.inputChannels : d.outputChannels;
        if (channels < 1 || d.uid.empty() || d.name.empty()) continue;
        list.push_back(AudioDevice{d.id, d.uid, d.name});
    }
    return list;
}

std::optional<std::uint32_t> deviceID(const AudioBackend& backend, const std::string& uid) {
    if (uid.empty()) return std::nullopt;
    for (const BackendDevice& d : backend.deviceTable())
        if (d.uid == uid) return d.id;
    return std::nullopt;
}

}  // namespace tessoral::AudioDevices
