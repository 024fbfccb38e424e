#pragma once

// A store's prompts and file manager for benchmarks: they never answer, the benchmarks only play,
// edit and checkpoint.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/Prompts.h"
#include "store/Shell.h"

namespace tessoral::bench {

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
