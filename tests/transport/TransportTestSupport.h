#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/AudioData.h"
#include "model/Defaults.h"
#include "support/TestSignals.h"
#include "transport/AudioTransport.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"

namespace tessoral::test {

// ALSA's pulse PCM plugin: in ALSA's plugin folder, or in TESSORAL_TEST_ALSA_PLUGINS.
inline std::optional<std::string> pulsePlugin() {
    std::vector<std::string> folders;
    if (const char* dir = std::getenv("TESSORAL_TEST_ALSA_PLUGINS")) folders.emplace_back(dir);
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/alsa-lib", "/usr/lib/aarch64-linux-gnu/alsa-lib",
                            "/usr/lib64/alsa-lib", "/usr/lib/alsa-lib"})
        folders.emplace_back(dir);
    for (const auto& folder : folders) {
        const std::filesystem::path p = std::filesystem::path(folder) / "libasound_module_pcm_pulse.so";
        if (std::filesystem::exists(p)) return p.string();
    }
    return std::nullopt;
}

// Sets an environment variable for the life of the scope, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A transport over the manual null backend and a hand-driven scheduler.
struct ManualRig {
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    ManualScheduler scheduler;
    MemoryDefaults defaults;
    AudioTransport transport{backend, scheduler, defaults};
    std::vector<double> finished;  // positions reported by playbackFinished

    ManualRig() {
        transport.playbackFinished = [this](double position) { finished.push_back(position); };
    }

    // Pumps `frames`, then runs one timer tick.
    void run(std::int64_t frames) {
        backend.pump(frames);
        scheduler.advance();
    }
};

// A ramp 0, 1, 2, … / scale in the left channel and its negative in the right: every
// sample says where it came from.
inline AudioData ramp(std::int64_t frames, float scale = 1e-6f) {
    std::vector<float> l(static_cast<std::size_t>(frames)), r(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i) {
        l[static_cast<std::size_t>(i)] = static_cast<float>(i) * scale;
        r[static_cast<std::size_t>(i)] = -static_cast<float>(i) * scale;
    }
    return AudioData(std::move(l), std::move(r));
}

}  // namespace tessoral::test
