#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace tessoral {

// Asks for transparent huge pages over the whole 2 MiB pages inside [data, data + bytes), before
// the memory is first touched: a long buffer is then filled in a few dozen page faults rather
// than tens of thousands. Where the system does not grant them, nothing changes.
inline void adviseHugePages(const void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

}  // namespace tessoral
