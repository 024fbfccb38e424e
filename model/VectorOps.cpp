#include "model/VectorOps.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessoral::vec {

#if defined(__SSE2__)
namespace {
float horizontalMax(__m128 v) {
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, v);
    return std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
}
float horizontalMin(__m128 v) {
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, v);
    return std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
}
}  // namespace
#endif

float maxMagnitude(const float* x, std::size_t n) {
    float best = 0.0f;
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 16) {
        const __m128 mask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        __m128 a = _mm_setzero_ps(), b = a, c = a, d = a;
        for (; i + 16 <= n; i += 16) {
            a = _mm_max_ps(a, _mm_and_ps(mask, _mm_loadu_ps(x + i)));
            b = _mm_max_ps(b, _mm_and_ps(mask, _mm_loadu_ps(x + i + 4)));
            c = _mm_max_ps(c, _mm_and_ps(mask, _mm_loadu_ps(x + i + 8)));
            d = _mm_max_ps(d, _mm_and_ps(mask, _mm_loadu_ps(x + i + 12)));
        }
        best = horizontalMax(_mm_max_ps(_mm_max_ps(a, b), _mm_max_ps(c, d)));
    }
#endif
    for (; i < n; ++i) best = std::max(best, std::fabs(x[i]));
    return best;
}

MinMax minMax(const float* x, std::size_t n) {
    if (n == 0) return {0.0f, 0.0f};
    float lo = x[0], hi = x[0];
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 16) {
        __m128 lo0 = _mm_set1_ps(x[0]), lo1 = lo0, hi0 = lo0, hi1 = lo0;
        for (; i + 8 <= n; i += 8) {
            const __m128 p = _mm_loadu_ps(x + i);
            const __m128 q = _mm_loadu_ps(x + i + 4);
            lo0 = _mm_min_ps(lo0, p);
            hi0 = _mm_max_ps(hi0, p);
            lo1 = _mm_min_ps(lo1, q);
            hi1 = _mm_max_ps(hi1, q);
        }
        lo = horizontalMin(_mm_min_ps(lo0, lo1));
        hi = horizontalMax(_mm_max_ps(hi0, hi1));
    }
#endif
    for (; i < n; ++i) {
        lo = std::min(lo, x[i]);
        hi = std::max(hi, x[i]);
    }
    return {lo, hi};
}

std::vector<float> zeros(std::size_t n) {
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    std::vector<float> out;
    out.reserve(n);
    const auto begin = reinterpret_cast<std::uintptr_t>(out.data());
    const std::uintptr_t from = (begin + kHuge - 1) & ~(kHuge - 1), to = (begin + n * sizeof(float)) & ~(kHuge - 1);
    // Only whole huge pages inside the block; the system may refuse, and the block is the same.
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    out.resize(n);
    return out;
}

}  // namespace tessoral::vec
