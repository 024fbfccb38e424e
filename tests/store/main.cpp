// The store tests' main: a QCoreApplication, and private settings and data folders for the whole
// process (QSettings fixes its folders at first use). A child process started by a test inherits
// the parent's folders (TESSORAL_TEST_ISOLATED), so parent and child see the same files.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    std::filesystem::path scratch;
    if (!std::getenv("TESSORAL_TEST_ISOLATED")) {
        std::random_device seed;
        std::mt19937_64 random(seed());
        const auto base = std::filesystem::temp_directory_path();
        do {
            scratch = base / ("tessoral-store-tests-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(scratch));
        std::filesystem::create_directory(scratch / "config");
        std::filesystem::create_directory(scratch / "data");
        setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
        setenv("TESSORAL_TEST_ISOLATED", scratch.c_str(), 1);
    }

    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (!scratch.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    }
    return result;
}
