#pragma once

#include <filesystem>
#include <optional>

namespace tessoral {

// The program's resources (Localization/, icons, guides): <prefix>/share/tessoral beside the
// installed program, else the source tree it was built from; none when neither is there.
std::optional<std::filesystem::path> resourceFolder();

}  // namespace tessoral
