#pragma once

#include <optional>

#include "model/SettingsMigration.h"

namespace tessoral {

// The previous version's settings ($XDG_CONFIG_HOME/local.tessoral.app.conf), key by key, typed as
// the program's own settings read them back; none when that file does not exist.
std::optional<DefaultsDictionary> readOldSettings();

}  // namespace tessoral
