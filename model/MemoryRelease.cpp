#include "model/MemoryRelease.h"

#include <cstdlib>  // the C library's headers tell which library it is

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tessoral::MemoryRelease {

void configure() {
#if defined(__GLIBC__)
    // A fixed threshold also turns off the library's raising of it after each large free.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

}  // namespace tessoral::MemoryRelease
