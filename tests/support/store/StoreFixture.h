#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <system_error>

#include "model/Defaults.h"
#include "store/StoreServices.h"
#include "store/TaskRunner.h"
#include "support/store/FakePrompts.h"
#include "support/store/FakeShell.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"

namespace tessoral::test {

// A fresh private folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::random_device seed;
        std::mt19937_64 random(seed());
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("tessoral-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Deterministic services for a store under test: virtual time, tasks that run when the test says,
// settings in memory, scripted dialogs, a recording desktop, the manual null audio backend and a
// temporary data folder (the folder "Tessoral" inside it, not created).
struct StoreFixture {
    ManualScheduler scheduler;
    ManualTaskRunner tasks;
    MemoryDefaults defaults;
    FakePrompts prompts;
    FakeShell shell;
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    TemporaryFolder home;
    std::optional<std::filesystem::path> dataFolder = home.path() / "Tessoral";

    StoreServices services() {
        StoreServices s;
        s.scheduler = &scheduler;
        s.tasks = &tasks;
        s.defaults = &defaults;
        s.prompts = &prompts;
        s.shell = &shell;
        s.backend = &backend;
        s.dataFolder = dataFolder;
        return s;
    }

    // A store over these services (the fixture must outlive it).
    template <class Store>
    std::unique_ptr<Store> make() {
        return std::make_unique<Store>(services());
    }

    // Lets time and work run: posted calls, then every task, until nothing is left to do.
    void settle() {
        for (int round = 0; round < 1000; ++round) {
            const int posted = scheduler.runPosted();
            const int ran = tasks.runAll();
            if (posted == 0 && ran == 0) return;
        }
    }
};

}  // namespace tessoral::test
