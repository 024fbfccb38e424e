// Loaded into the real program with LD_PRELOAD: records each allocator setting it makes (the
// parameter and the value) as a line of the file TESSORAL_ALLOCATOR_LOG names, and passes the
// setting on to the C library.

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

extern "C" int mallopt(int param, int value) {
    if (const char* path = std::getenv("TESSORAL_ALLOCATOR_LOG"))
        if (FILE* log = std::fopen(path, "a")) {
            std::fprintf(log, "%d %d\n", param, value);
            std::fclose(log);
        }
    const auto next = reinterpret_cast<int (*)(int, int)>(::dlsym(RTLD_NEXT, "mallopt"));
    return next ? next(param, value) : 0;
}
