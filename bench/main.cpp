#include <benchmark/benchmark.h>

#include <cstring>

namespace tessoral::bench {
int writeVocalProject(const char* path);
}

int main(int argc, char** argv) {
    // --write-vocal-project=FILE writes the play-start benchmark's vocal clip as a project and ends.
    constexpr const char* kWriteVocal = "--write-vocal-project=";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], kWriteVocal, std::strlen(kWriteVocal)) == 0)
            return tessoral::bench::writeVocalProject(argv[i] + std::strlen(kWriteVocal));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
