#pragma once

#include <filesystem>
#include <optional>

#include "model/Defaults.h"
#include "store/Prompts.h"
#include "store/Shell.h"
#include "store/TaskRunner.h"
#include "transport/AudioBackend.h"
#include "transport/Scheduler.h"

namespace tessoral {

// Everything the store reaches outside itself. The program passes the Qt and desktop versions,
// tests the manual and scripted ones (tests/support/store/StoreFixture.h). Every service must
// outlive the store.
struct StoreServices {
    Scheduler* scheduler = nullptr;
    TaskRunner* tasks = nullptr;
    Defaults* defaults = nullptr;
    Prompts* prompts = nullptr;
    Shell* shell = nullptr;
    AudioBackend* backend = nullptr;
    // The per-user data folder (AppPaths::dataFolder()); none turns autosave and recovery off.
    std::optional<std::filesystem::path> dataFolder;
    // How often an unsaved project is copied there, in seconds on the scheduler's clock.
    static constexpr double kAutosaveSeconds = 60.0;
    double autosaveSeconds = kAutosaveSeconds;
};

}  // namespace tessoral
