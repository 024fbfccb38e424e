#pragma once

#include "store/Shell.h"

namespace tessoral {

// The desktop's file manager (D-Bus org.freedesktop.FileManager1.ShowItems, else the folder opened
// with the default handler), its default applications and its recently-used list.
class DesktopShell final : public Shell {
public:
    void reveal(const std::vector<std::filesystem::path>& files, std::function<void()> failed) override;
    bool openURL(const std::string& url) override;
    void noteRecentDocument(const std::filesystem::path& file) override;
};

}  // namespace tessoral
