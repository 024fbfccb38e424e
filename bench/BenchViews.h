#pragma once

// What the benchmarks of views share: one offscreen application for the whole process, in the
// program's theme (and the store's silent prompts and file manager).

#include <QApplication>

#include "BenchServices.h"
#include "widgets/Palette.h"

namespace tessoral::bench {

inline QApplication& application() {
    static int argc = 1;
    static char name[] = "tessoral_bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new QApplication(argc, argv);  // lives for the process
        Palette::applyTheme(*a);
        return a;
    }();
    return *app;
}

}  // namespace tessoral::bench
