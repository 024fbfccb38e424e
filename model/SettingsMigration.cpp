#include "model/SettingsMigration.h"

namespace tessoral::SettingsMigration {

namespace {

bool migrated(const Defaults& target) { return target.boolean(kMigratedKey).value_or(false); }

}  // namespace

void migrate(const DefaultsDictionary& source, Defaults& target) {
    if (migrated(target)) return;
    for (const auto& [key, value] : source)
        if (!target.value(key)) target.set(key, value);
    target.set(kMigratedKey, true);
}

void migrateFromOldDomain(Defaults& target, const std::function<std::optional<DefaultsDictionary>()>& readOldDomain) {
    if (migrated(target)) return;
    std::optional<DefaultsDictionary> source;
    if (readOldDomain) source = readOldDomain();
    migrate(source.value_or(DefaultsDictionary{}), target);
}

}  // namespace tessoral::SettingsMigration
