#pragma once

#include <filesystem>
#include <vector>

namespace tessoral {

// The desktop around the program: its file manager and its recently-used list. The program
// passes the desktop's services; tests pass a recording fake.
class Shell {
public:
    virtual ~Shell() = default;
    // Shows the files selected in the file manager (several files of one folder in one window).
    virtual void reveal(const std::vector<std::filesystem::path>& files) = 0;
    // Adds the document to the desktop's recently-used list.
    virtual void noteRecentDocument(const std::filesystem::path& file) = 0;
};

}  // namespace tessoral
