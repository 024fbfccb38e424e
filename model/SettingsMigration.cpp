#include "model/SettingsMigration.h"

#include <charconv>
#include <cmath>
#include <variant>

namespace tessoral::SettingsMigration {

namespace {

// The flag read as a settings store's bool reader converts: a number is true when it is not 0, a
// text when it says "true" or "yes" (any case) or is a number other than 0; anything else is false.
// A store that hands its booleans back as text or numbers thus still marks the copy as done.
bool migrated(const Defaults& target) {
    const auto v = target.value(kMigratedKey);
    if (!v) return false;
    if (const auto* b = std::get_if<bool>(&*v)) return *b;
    if (const auto* i = std::get_if<long long>(&*v)) return *i != 0;
    if (const auto* d = std::get_if<double>(&*v)) return *d != 0 && !std::isnan(*d);
    if (const auto* s = std::get_if<std::string>(&*v)) {
        std::string lower;
        for (const char c : *s) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower == "true" || lower == "yes") return true;
        double number = 0;
        const auto [end, ec] = std::from_chars(s->data(), s->data() + s->size(), number);
        return ec == std::errc() && end != s->data() && number != 0 && !std::isnan(number);
    }
    return false;
}

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
