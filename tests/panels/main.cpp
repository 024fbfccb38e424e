#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

#include "widgets/Palette.h"

int main(int argc, char** argv) {
    // Without a display the panel tests draw offscreen.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tessoral::Palette::applyTheme(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
