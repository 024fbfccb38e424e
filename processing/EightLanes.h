#pragma once

#include <cstddef>
#include <cstring>

// Eight lanes of single precision for the peak interpolators. Without AVX the compiler splits
// each operation into two SSE halves; the arithmetic and its order are the same either way, so
// both paths give identical results (no fused multiply-add is used). The helpers are always
// inlined, so no vector crosses a call boundary, and the ABI note on vector returns is silenced.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tessoral::lanes {

typedef float v8f __attribute__((vector_size(32)));
typedef int v8i __attribute__((vector_size(32)));

inline constexpr std::size_t kLanes = 8;

[[gnu::always_inline]] inline v8f load(const float* p) {
    v8f v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline v8f magnitude(const v8f& v) {
    return reinterpret_cast<v8f>(reinterpret_cast<v8i>(v) & 0x7FFFFFFF);
}

[[gnu::always_inline]] inline v8f maximum(const v8f& a, const v8f& b) { return a > b ? a : b; }

}  // namespace tessoral::lanes
