// Autosave and crash recovery.

#include "store/StudioStore.h"

namespace tessoral {

std::optional<std::filesystem::path> StudioStore::recoveryURL() const {
    if (!services_.dataFolder) return std::nullopt;
    return *services_.dataFolder / "Recovery.tessoral";
}

std::optional<std::filesystem::path> StudioStore::recoveryMetaURL() const {
    if (!services_.dataFolder) return std::nullopt;
    return *services_.dataFolder / "Recovery.plist";
}

void StudioStore::autosave() {}

void StudioStore::clearRecovery() {}

bool StudioStore::offerRecovery() { return false; }

}  // namespace tessoral
