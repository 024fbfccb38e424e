// The timeline views' tests: real widgets over a real store with manual services, drawn
// offscreen, in Russian, with private settings, data and runtime folders.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include <gtest/gtest.h>

#include "model/Localization.h"
#include "widgets/Palette.h"

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    for (const char* name : {"config", "data", "runtime"}) QDir(scratch.path()).mkpath(QString::fromLatin1(name));
    QFile::setPermissions(scratch.filePath("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", scratch.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", scratch.filePath("data").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", scratch.filePath("runtime").toLocal8Bit());
    tessoral::Localization::use(tessoral::AppLanguage::russian, {});
    QApplication app(argc, argv);
    tessoral::Palette::applyTheme(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
