#pragma once

#include <filesystem>

namespace tessoral {

// Where the program keeps its per-user files.
namespace AppPaths {

// The program's data folder: $XDG_DATA_HOME/Tessoral when XDG_DATA_HOME names an absolute
// path, else $HOME/.local/share/Tessoral. Only computed; nothing is created.
std::filesystem::path dataFolder();

// The same from given environment values (either may be null), for tests.
std::filesystem::path dataFolderFrom(const char* xdgDataHome, const char* home);

// Creates `folder` and every missing folder above it, each new one with mode 0700 (private to
// the user). An existing folder is fine. Throws PlatformError naming `forFile` when a folder
// cannot be made.
void createFolders(const std::filesystem::path& folder, const std::filesystem::path& forFile);

}  // namespace AppPaths

}  // namespace tessoral
