#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessoral {

// A modal alert: a message, an informative text and its buttons in order (the first is the
// default).
struct AlertRequest {
    enum class Style { informational, warning, critical };
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;
    Style style = Style::warning;
};

// One entry of a chooser's type list: a name and the extensions it admits (lower case, without
// the dot; empty = any file).
struct FileFilter {
    std::string name;
    std::vector<std::string> extensions;
};

struct OpenRequest {
    std::string title;
    std::vector<FileFilter> filters;
    bool multiple = true;
    std::optional<std::filesystem::path> folder;  // where the chooser starts
};

struct SaveRequest {
    std::string title;
    std::string proposedName;  // with its extension, e.g. "Новый проект.tessoral"
    std::string extension;     // the type's extension without the dot; empty = none enforced
    std::string filterName;    // the name shown for the type
    std::optional<std::filesystem::path> folder;
};

struct FolderRequest {
    std::string title;
    std::string prompt;  // the confirm button's text; empty = the toolkit's
    std::optional<std::filesystem::path> folder;
};

// The dialogs the store asks the user through. Every call is modal and made on the main thread.
// The program passes dialogs; tests pass a scripted fake.
class Prompts {
public:
    virtual ~Prompts() = default;
    // The index of the chosen button; none when the alert was dismissed without one.
    virtual std::optional<int> alert(const AlertRequest& request) = 0;
    // The chosen files (absolute paths); empty when cancelled.
    virtual std::vector<std::filesystem::path> chooseFilesToOpen(const OpenRequest& request) = 0;
    // The chosen target, always ending in ".<extension>" when the request names one; none when
    // cancelled.
    virtual std::optional<std::filesystem::path> chooseSaveFile(const SaveRequest& request) = 0;
    // The chosen folder; none when cancelled.
    virtual std::optional<std::filesystem::path> chooseFolder(const FolderRequest& request) = 0;
};

// `path` with ".<extension>" appended unless its extension already is that (compared without
// regard to ASCII case). Empty `extension`: `path` unchanged. What every save chooser returns.
std::filesystem::path withExtension(const std::filesystem::path& path, const std::string& extension);

}  // namespace tessoral
