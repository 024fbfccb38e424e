#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tessoral {

// The desktop around the program: its file manager, the default applications for web pages, mail
// and files, and its recently-used list. The program passes the desktop's services; tests pass a
// recording fake.
class Shell {
public:
    virtual ~Shell() = default;
    // Shows the files selected in the file manager (several files of one folder in one window).
    // `failed` runs on the main thread, at once or later, when nothing could show them.
    virtual void reveal(const std::vector<std::filesystem::path>& files, std::function<void()> failed) = 0;
    // Opens a web or mail address, or a file:// address, with the desktop's default application;
    // false when nothing could open it.
    virtual bool openURL(const std::string& url) = 0;
    // Adds the document to the desktop's recently-used list.
    virtual void noteRecentDocument(const std::filesystem::path& file) = 0;
};

}  // namespace tessoral
