// Saving and loading a project of 384 MiB of audio (three clips of 16,777,216 frames),
// beside the peers: writing the same bytes with write+fsync, and reading them with pread.
// The memory cases run the operation in a forked child and report its peak resident-set
// growth as a multiple of the audio bytes (target: at most 1.5).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "model/ProjectIO.h"

using namespace tessoral;

namespace {

std::int64_t clipFrames() { return bench::smoke() ? 4800 : 16'777'216; }

const Session& project() {
    static const Session s = [] {
        Session p;
        std::uint32_t state = 12345;
        for (int c = 0; c < 3; ++c) {
            const auto n = static_cast<std::size_t>(clipFrames());
            std::vector<float> l(n), r(n);
            for (std::size_t i = 0; i < n; ++i) {
                state = state * 1664525u + 1013904223u;
                l[i] = static_cast<float>(static_cast<std::int32_t>(state)) * (0.5f / 2147483648.0f);
                r[i] = -l[i] * 0.5f;
            }
            Track t = Track::make("Clip " + std::to_string(c), AudioData(std::move(l), std::move(r)));
            p.appendOnNewLane(t);
        }
        return p;
    }();
    return s;
}

// A scratch folder removed when the program ends.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder() {
        path = std::filesystem::temp_directory_path() / ("tessoral-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

std::filesystem::path folder() {
    static const ScratchFolder dir;
    return dir.path;
}

std::filesystem::path savedFile() {
    static const std::filesystem::path file = [] {
        auto f = folder() / "load.tessoral";
        ProjectIO::save(project(), f);
        return f;
    }();
    return file;
}

void Save(benchmark::State& state) {
    const Session& s = project();
    const auto file = folder() / "save.tessoral";
    for (auto _ : state) ProjectIO::save(s, file);
    state.SetBytesProcessed(state.iterations() * s.bytes());
    std::filesystem::remove(file);
}

// The peer: the same sample bytes written with write() and fsync().
void SavePeerWrite(benchmark::State& state) {
    const Session& s = project();
    const auto file = folder() / "peer.bin";
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (const Track& t : s.tracks)
            for (const auto* ch : {&t.audio.left, &t.audio.right}) {
                const auto* p = reinterpret_cast<const char*>(ch->data());
                std::size_t left = ch->size() * 4;
                while (left > 0) {
                    const ssize_t n = ::write(fd, p, left);
                    if (n <= 0) break;
                    p += n;
                    left -= static_cast<std::size_t>(n);
                }
            }
        ::fsync(fd);
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * s.bytes());
    std::filesystem::remove(file);
}

void Load(benchmark::State& state) {
    const auto file = savedFile();
    for (auto _ : state) {
        Session s = ProjectIO::load(file);
        benchmark::DoNotOptimize(s.tracks.data());
    }
    state.SetBytesProcessed(state.iterations() * project().bytes());
}

// The peer: reading the whole file into memory once.
void LoadPeerRead(benchmark::State& state) {
    const auto file = savedFile();
    const auto size = std::filesystem::file_size(file);
    for (auto _ : state) {
        std::vector<char> bytes(size);
        const int fd = ::open(file.c_str(), O_RDONLY);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * project().bytes());
}

// Resident-set figures of this process in KiB from /proc/self/status.
long statusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t len = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, len, field) == 0) return std::stol(line.substr(len + 1));
    return -1;
}

// Runs `op` in a child process and returns its peak resident-set growth in bytes (-1 on failure).
template <class Op>
double peakGrowth(Op op) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        // Reset the high-water mark to the current resident set, then measure above it.
        {
            std::ofstream clear("/proc/self/clear_refs");
            clear << "5";
        }
        const long before = statusKiB("VmRSS:");
        op();
        const long peak = statusKiB("VmHWM:");
        const double growth = static_cast<double>(peak - before) * 1024.0;
        if (::write(fds[1], &growth, sizeof growth) != sizeof growth) ::_exit(1);
        ::_exit(0);
    }
    ::close(fds[1]);
    double growth = -1;
    if (::read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return growth;
}

void SavePeakMemory(benchmark::State& state) {
    const Session& s = project();
    const auto file = folder() / "memory.tessoral";
    double growth = 0;
    for (auto _ : state) growth = peakGrowth([&] { ProjectIO::save(s, file); });
    state.counters["peak_growth_per_audio_byte"] = growth / static_cast<double>(s.bytes());
    std::filesystem::remove(file);
}

void LoadPeakMemory(benchmark::State& state) {
    const auto file = savedFile();
    double growth = 0;
    for (auto _ : state)
        growth = peakGrowth([&] {
            Session s = ProjectIO::load(file);
            benchmark::DoNotOptimize(s.tracks.data());
        });
    state.counters["peak_growth_per_audio_byte"] = growth / static_cast<double>(project().bytes());
}

}  // namespace

BENCHMARK(Save)->Unit(benchmark::kMillisecond)->Apply(bench::medianOfRepetitions);
BENCHMARK(SavePeerWrite)->Unit(benchmark::kMillisecond)->Apply(bench::medianOfRepetitions);
BENCHMARK(Load)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadPeerRead)->Unit(benchmark::kMillisecond);
BENCHMARK(SavePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(LoadPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
