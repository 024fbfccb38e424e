#pragma once

// Shared set-up of the store tests: a store over the deterministic fixture, projects built from
// plain clips, and small files for import and open.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/ExportFormat.h"
#include "model/Session.h"
#include "processing/ExportPipeline.h"
#include "store/StudioStore.h"
#include "support/TestAudio.h"
#include "support/store/StoreFixture.h"
#include "transport/AudioDevices.h"
#include "transport/AudioRecorder.h"

namespace tessoral::test {

class StoreTest : public ::testing::Test {
protected:
    StoreFixture fx;
    std::unique_ptr<StudioStore> store = fx.make<StudioStore>();

    // A new store over the same services (settings, data folder, dialogs); the old one goes first.
    void restart() {
        store.reset();
        store = fx.make<StudioStore>();
    }

    // Puts the clips into the project as it is (the observer gives each a row of its own).
    void setClips(std::vector<Track> clips) {
        Session s = store->session();
        s.tracks = std::move(clips);
        store->setSession(std::move(s));
    }

    // A change that counts as an edit: one undo step and a new clip.
    void edit(const std::string& name = "Правка", std::int64_t frames = 4800) {
        store->checkpoint(name);
        Session s = store->session();
        s.tracks.push_back(clip(name, frames));
        store->setSession(std::move(s));
    }

    // Starts a recording on the Null backend's scripted input, its playhead at `origin`.
    void startRecording(double origin) {
        fx.backend.setDevices({{1, "Null/Input", "Input", 2, 0, 48000.0}, {2, "Null/Output", "Output", 0, 2, 48000.0}});
        fx.defaults.set(AudioDevices::kInputDeviceKey, std::string("Null/Input"));
        RecordingSetup setup;
        setup.maximumFrames = 10 * 48000;
        setup.plan.origin = origin;
        store->transport().record(setup);
        ASSERT_TRUE(store->transport().recording());
    }

    // A small 16-bit WAV file of constant value in the fixture's home folder.
    std::filesystem::path audioFile(const std::string& name, std::int64_t frames = 4800, float value = 0.25f) {
        const auto path = fx.home.path() / name;
        ExportPipeline::write(constant(frames, value), 48000, path, ExportFormat::wav16);
        return path;
    }
};

}  // namespace tessoral::test
