#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "store/Shell.h"

namespace tessoral::test {

// Records what the store asked of the desktop; with `failing` set, nothing opens and every reveal
// reports its failure, at once or, with `later` set, when the test runs the pending reports.
class FakeShell final : public Shell {
public:
    std::vector<std::vector<std::filesystem::path>> revealed;  // one entry per reveal() call
    std::vector<std::string> opened;                           // openURL() calls in order
    std::vector<std::filesystem::path> recent;                 // noteRecentDocument() calls in order
    bool failing = false;
    bool later = false;
    std::vector<std::function<void()>> pending;

    void reveal(const std::vector<std::filesystem::path>& files, std::function<void()> failed) override {
        revealed.push_back(files);
        if (!failing || !failed) return;
        if (later)
            pending.push_back(std::move(failed));
        else
            failed();
    }
    void runPending() {
        auto reports = std::move(pending);
        pending.clear();
        for (auto& report : reports) report();
    }
    bool openURL(const std::string& url) override {
        opened.push_back(url);
        return !failing;
    }
    void noteRecentDocument(const std::filesystem::path& file) override { recent.push_back(file); }
};

}  // namespace tessoral::test
