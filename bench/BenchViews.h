#pragma once

// What the benchmarks of views share: one offscreen application for the whole process, in the
// program's theme, and prompts and a file manager that answer nothing.

#include <QApplication>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/Prompts.h"
#include "store/Shell.h"
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

class NoPrompts final : public Prompts {
public:
    std::optional<int> alert(const AlertRequest&) override { return std::nullopt; }
    std::vector<std::filesystem::path> chooseFilesToOpen(const OpenRequest&) override { return {}; }
    std::optional<std::filesystem::path> chooseSaveFile(const SaveRequest&) override { return std::nullopt; }
    std::optional<std::filesystem::path> chooseFolder(const FolderRequest&) override { return std::nullopt; }
};

class NoShell final : public Shell {
public:
    void reveal(const std::vector<std::filesystem::path>&, std::function<void()>) override {}
    bool openURL(const std::string&) override { return true; }
    void noteRecentDocument(const std::filesystem::path&) override {}
};

}  // namespace tessoral::bench
