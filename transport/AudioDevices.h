#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessoral {

class AudioBackend;

// A device the settings window offers: `uid` is what the settings store under
// "input.device.uid" and "output.device.uid"; `id` is valid until the device list is refreshed.
struct AudioDevice {
    std::uint32_t id = 0;
    std::string uid;
    std::string name;
    friend bool operator==(const AudioDevice&, const AudioDevice&) = default;
};

enum class AudioDeviceScope { input, output };

namespace AudioDevices {

inline constexpr const char* kInputDeviceKey = "input.device.uid";
inline constexpr const char* kOutputDeviceKey = "output.device.uid";

// The devices with at least one channel in the scope, in the system's order; a device
// whose uid or name is unknown or empty is left out.
std::vector<AudioDevice> devices(const AudioBackend& backend, AudioDeviceScope scope);
// The id of the device whose uid equals the text exactly (inputs and outputs alike); none
// for an empty or unknown uid.
std::optional<std::uint32_t> deviceID(const AudioBackend& backend, const std::string& uid);

}  // namespace AudioDevices

}  // namespace tessoral
