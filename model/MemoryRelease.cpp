#include "model/MemoryRelease.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tessoral::MemoryRelease {

void configure() {
#if defined(__GLIBC__)
    // A fixed threshold also turns off the library's raising of it after each large free, which is
    // what leaves audio-sized blocks in the threads' pools.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

void giveBack() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace tessoral::MemoryRelease
