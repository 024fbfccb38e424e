#pragma once
// The start-up the view test executables share: offscreen drawing without a display, private
// folders for the whole process, and the themed application the tests run in.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include <gtest/gtest.h>

#include "widgets/Palette.h"

namespace tessoral::viewtests {

// Without a display the tests draw offscreen.
inline void drawOffscreenWithoutDisplay() {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Settings, data and runtime folders inside `scratch` (the runtime one private to its owner).
inline void usePrivateFolders(const QTemporaryDir& scratch) {
    for (const char* name : {"config", "data", "runtime"}) QDir(scratch.path()).mkpath(QString::fromLatin1(name));
    QFile::setPermissions(scratch.filePath("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", scratch.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", scratch.filePath("data").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", scratch.filePath("runtime").toLocal8Bit());
}

// Every test, run in an application with the program's theme.
inline int runThemedTests(int argc, char** argv) {
    QApplication app(argc, argv);
    Palette::applyTheme(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace tessoral::viewtests
