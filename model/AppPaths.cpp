#include "model/AppPaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "model/AtomicFile.h"
#include "model/Localization.h"

namespace tessoral::AppPaths {

namespace {

constexpr const char* kFolderName = "Tessoral";

std::filesystem::path homeFolder(const char* home) {
    if (home && *home) return home;
    // No HOME: the account's home from the password database.
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
    return std::filesystem::temp_directory_path();
}

}  // namespace

std::filesystem::path dataFolderFrom(const char* xdgDataHome, const char* home) {
    // A relative XDG_DATA_HOME is invalid and is ignored (XDG Base Directory rules).
    if (xdgDataHome && *xdgDataHome && xdgDataHome[0] == '/')
        return std::filesystem::path(xdgDataHome) / kFolderName;
    return homeFolder(home) / ".local" / "share" / kFolderName;
}

std::filesystem::path dataFolder() { return dataFolderFrom(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")); }

void createFolders(const std::filesystem::path& folder, const std::filesystem::path& forFile) {
    // Walk up to the first folder that exists, then create the missing ones top down.
    std::vector<std::filesystem::path> missing;
    std::filesystem::path p = folder.lexically_normal();
    while (!p.empty()) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) break;
            throw FileWriteError(L("Не удалось записать файл «{0}»: {1}", forFile.filename().string(),
                                   std::error_code(ENOTDIR, std::system_category()).message()),
                                 ENOTDIR);
        }
        missing.push_back(p);
        const auto parent = p.parent_path();
        if (parent == p) break;
        p = parent;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
            const int error = errno;
            throw FileWriteError(L("Не удалось записать файл «{0}»: {1}", forFile.filename().string(),
                                   std::error_code(error, std::system_category()).message()),
                                 error);
        }
    }
}

}  // namespace tessoral::AppPaths
