#include "model/Defaults.h"

#include <cmath>

namespace tessoral {

std::optional<std::string> Defaults::string(const std::string& key) const {
    auto v = value(key);
    if (v)
        if (auto s = std::get_if<std::string>(&*v)) return *s;
    return std::nullopt;
}

std::optional<std::vector<std::string>> Defaults::stringList(const std::string& key) const {
    auto v = value(key);
    if (v)
        if (auto s = std::get_if<std::vector<std::string>>(&*v)) return *s;
    return std::nullopt;
}

std::optional<bool> Defaults::boolean(const std::string& key) const {
    auto v = value(key);
    if (v)
        if (auto b = std::get_if<bool>(&*v)) return *b;
    return std::nullopt;
}

std::optional<double> Defaults::number(const std::string& key) const {
    auto v = value(key);
    if (!v) return std::nullopt;
    if (auto d = std::get_if<double>(&*v)) return *d;
    if (auto i = std::get_if<long long>(&*v)) return static_cast<double>(*i);
    return std::nullopt;
}

std::optional<long long> Defaults::integer(const std::string& key) const {
    auto v = value(key);
    if (!v) return std::nullopt;
    if (auto i = std::get_if<long long>(&*v)) return *i;
    if (auto d = std::get_if<double>(&*v)) {
        if (std::isfinite(*d) && std::trunc(*d) == *d && std::fabs(*d) < 9.0e18) return static_cast<long long>(*d);
    }
    return std::nullopt;
}

std::optional<DefaultsValue> MemoryDefaults::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void MemoryDefaults::set(const std::string& key, DefaultsValue value) {
    std::lock_guard lock(mutex_);
    values_[key] = std::move(value);
}

void MemoryDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
}

bool MemoryDefaults::contains(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return values_.count(key) != 0;
}

}  // namespace tessoral
