#pragma once

#include <filesystem>
#include <vector>

#include "store/Shell.h"

namespace tessoral::test {

// Records what the store asked of the desktop.
class FakeShell final : public Shell {
public:
    std::vector<std::vector<std::filesystem::path>> revealed;  // one entry per reveal() call
    std::vector<std::filesystem::path> recent;                  // noteRecentDocument() calls in order

    void reveal(const std::vector<std::filesystem::path>& files) override { revealed.push_back(files); }
    void noteRecentDocument(const std::filesystem::path& file) override { recent.push_back(file); }
};

}  // namespace tessoral::test
