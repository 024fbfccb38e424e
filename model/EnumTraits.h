#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace tessoral {

// Vocabularies are enumerations whose raw strings are also their stored form.
// Each one specialises EnumTraits with `cases`: the (case, raw value) pairs in
// declaration order.
template <class E>
struct EnumTraits;

template <class E>
constexpr std::string_view rawValue(E value) {
    for (const auto& [c, raw] : EnumTraits<E>::cases)
        if (c == value) return raw;
    return {};
}

// The case whose raw value matches exactly (case-sensitive); none otherwise.
template <class E>
constexpr std::optional<E> fromRaw(std::string_view raw) {
    for (const auto& [c, r] : EnumTraits<E>::cases)
        if (r == raw) return c;
    return std::nullopt;
}

template <class E>
std::vector<E> allCases() {
    std::vector<E> out;
    for (const auto& entry : EnumTraits<E>::cases) out.push_back(entry.first);
    return out;
}

template <class E>
constexpr std::size_t caseIndex(E value) {
    std::size_t i = 0;
    for (const auto& entry : EnumTraits<E>::cases) {
        if (entry.first == value) return i;
        ++i;
    }
    return i;
}

}  // namespace tessoral
