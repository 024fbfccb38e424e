// Loaded into the real program with LD_PRELOAD: records each allocator setting it makes (the
// parameter, the value and how many threads the process had then) as a line of the file that
// TESSORAL_ALLOCATOR_LOG names, and passes the setting on to the C library.

#include <dirent.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

extern "C" int mallopt(int param, int value) {
    if (const char* path = std::getenv("TESSORAL_ALLOCATOR_LOG")) {
        int threads = 0;
        if (DIR* tasks = ::opendir("/proc/self/task")) {
            while (const dirent* entry = ::readdir(tasks))
                if (entry->d_name[0] != '.') ++threads;
            ::closedir(tasks);
        }
        if (FILE* log = std::fopen(path, "a")) {
            std::fprintf(log, "%d %d %d\n", param, value, threads);
            std::fclose(log);
        }
    }
    using Setting = int (*)(int, int);
    const auto next = reinterpret_cast<Setting>(::dlsym(RTLD_NEXT, "mallopt"));
    return next ? next(param, value) : 0;
}
