#pragma once

#include <QApplication>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <QString>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/shell/AppDelegate.h"
#include "app/shell/MainWindow.h"
#include "app/shell/Studio.h"
#include "app/shell/StudioView.h"
#include "model/Session.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "transport/AudioBackend.h"
#include "support/store/StoreFixture.h"

namespace tessoral::test {

inline QString qs(const std::string& s) { return QString::fromStdString(s); }

inline void pump(int rounds = 4) {
    for (int i = 0; i < rounds; ++i) QApplication::processEvents();
}

// A studio (store, window, delegate) over the manual services of a StoreFixture.
struct StudioFixture {
    StoreFixture services;
    std::unique_ptr<Studio> studio;
    int terminations = 0;

    explicit StudioFixture(bool demo = false) { make(demo); }

    void make(bool demo = false) {
        studio.reset();
        studio = std::make_unique<Studio>(services.services(), demo);
        studio->delegate().terminate = [this] { ++terminations; };
    }
    StudioStore& store() { return studio->store(); }
    MainWindow& window() { return studio->window(); }
    StudioView& view() { return *studio->window().studio(); }
    AppDelegate& delegate() { return studio->delegate(); }
    void settle() {
        services.settle();
        pump();
    }
    // The demo project, installed (three clips on three rows).
    void loadDemo() {
        store().loadDemo();
        settle();
    }
    // A recovery copy in the data folder, as a crash leaves it: written by a first store (of the
    // project file `project`, when given).
    void leaveRecoveryCopy(const std::optional<std::filesystem::path>& project = std::nullopt) {
        auto first = services.make<StudioStore>();
        first->loadDemo();
        services.settle();
        first->setProjectURL(project);
        services.scheduler.advanceBy(StudioStore::kAutosaveSeconds + 1);
        services.settle();
        ASSERT_TRUE(first->recoveryURL() && std::filesystem::exists(*first->recoveryURL()));
    }
};

}  // namespace tessoral::test

namespace tessoral::test {

// A short 16-bit stereo WAV tone at 48 kHz (written here so the import has real files).
inline std::filesystem::path writeTone(const std::filesystem::path& path, double seconds = 0.5) {
    const std::uint32_t frames = static_cast<std::uint32_t>(seconds * 48000);
    const std::uint32_t dataBytes = frames * 4;
    std::string bytes;
    auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) bytes.push_back(char((v >> (8 * i)) & 0xFF)); };
    auto u16 = [&](std::uint16_t v) { for (int i = 0; i < 2; ++i) bytes.push_back(char((v >> (8 * i)) & 0xFF)); };
    bytes += "RIFF";
    u32(36 + dataBytes);
    bytes += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(2);
    u32(48000);
    u32(48000 * 4);
    u16(4);
    u16(16);
    bytes += "data";
    u32(dataBytes);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto s = static_cast<std::int16_t>(8000.0 * std::sin(2 * M_PI * 440.0 * i / 48000.0));
        u16(static_cast<std::uint16_t>(s));
        u16(static_cast<std::uint16_t>(s));
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

inline std::vector<std::string> trackNames(const StudioStore& store) {
    std::vector<std::string> names;
    for (const auto& t : store.session().tracks) names.push_back(t.name);
    return names;
}

// A null input device, so the store's recording command has something to capture from.
inline void addInputDevice(StudioFixture& fx) {
    BackendDevice device;
    device.id = 1;
    device.name = "Null";
    device.inputChannels = 2;
    device.outputChannels = 2;
    fx.services.backend.setDevices({device});
}

}  // namespace tessoral::test
