#include "app/shell/ResourcePaths.h"

#include <system_error>

#ifndef TESSORAL_SOURCE_RESOURCES
#define TESSORAL_SOURCE_RESOURCES ""
#endif
#ifndef TESSORAL_INSTALL_DATADIR
#define TESSORAL_INSTALL_DATADIR ""
#endif

namespace tessoral {

namespace {
bool usable(const std::filesystem::path& folder) {
    std::error_code ec;
    return !folder.empty() && std::filesystem::is_directory(folder / "Localization", ec);
}
}  // namespace

std::optional<std::filesystem::path> resourceFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto beside = exe.parent_path().parent_path() / "share" / "tessoral";
        if (usable(beside)) return beside;
    }
    if (usable(TESSORAL_SOURCE_RESOURCES)) return std::filesystem::path(TESSORAL_SOURCE_RESOURCES);
    if (usable(TESSORAL_INSTALL_DATADIR)) return std::filesystem::path(TESSORAL_INSTALL_DATADIR);
    return std::nullopt;
}

}  // namespace tessoral
