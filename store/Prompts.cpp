#include "store/Prompts.h"

#include <cctype>

namespace tessoral {

std::filesystem::path withExtension(const std::filesystem::path& path, const std::string& extension) {
    if (extension.empty() || path.empty()) return path;
    const std::string current = path.extension().string();  // ".wav" or empty
    if (current.size() == extension.size() + 1) {
        bool same = true;
        for (std::size_t i = 0; i < extension.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(current[i + 1])) != std::tolower(static_cast<unsigned char>(extension[i])))
                same = false;
        if (same) return path;
    }
    std::filesystem::path out = path;
    out += "." + extension;
    return out;
}

}  // namespace tessoral
