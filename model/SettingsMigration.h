#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "model/Defaults.h"

namespace tessoral {

// Every stored key of a settings domain with its value.
using DefaultsDictionary = std::map<std::string, DefaultsValue>;

// The one-time copy of an older version's settings into the current ones.
namespace SettingsMigration {

// The older version's settings domain and the flag that marks the copy as done.
inline constexpr const char* kOldDomain = "local.tessoral.app";
inline constexpr const char* kMigratedKey = "settingsMigratedFromLocalDomain";

// Unless the flag is set: copies every key of `source` that `target` does not hold, then sets
// the flag. Keys the target already has keep its values; the source is not changed.
void migrate(const DefaultsDictionary& source, Defaults& target);

// The same with the old domain as `readOldDomain` gives it (none: the domain does not exist,
// an empty source). The old domain is read only while the flag is not yet set, so it is read
// once per user account.
void migrateFromOldDomain(Defaults& target, const std::function<std::optional<DefaultsDictionary>()>& readOldDomain);

}  // namespace SettingsMigration

}  // namespace tessoral
