#pragma once

#include <cstddef>

namespace tessoral {

// Folds one more hash value into a running hash.
inline void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2);
}

}  // namespace tessoral
