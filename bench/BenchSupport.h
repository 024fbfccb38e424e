#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "model/AudioData.h"
#include "model/SplitMix64.h"

namespace tessoral::bench {

// Under ./test.sh the benchmarks run once on tiny input as a smoke test.
inline bool smoke() { return std::getenv("TESSORAL_BENCH_SMOKE") != nullptr; }

// Frames of the full-size input (8 minutes at 48 kHz), or a few thousand in smoke mode.
inline std::int64_t frames() { return smoke() ? 48'000 : 23'040'000; }

// Stereo material of frames() frames: `sample(i, rng)` gives the (left, right) samples of frame i,
// drawing any noise from one SplitMix64 seeded with `seed`.
template <class Sample>
AudioData synthesize(std::uint64_t seed, Sample sample) {
    const auto n = static_cast<std::size_t>(frames());
    std::vector<float> l(n), r(n);
    SplitMix64 rng(seed);
    for (std::size_t i = 0; i < n; ++i) {
        const std::pair<double, double> lr = sample(i, rng);
        l[i] = static_cast<float>(lr.first);
        r[i] = static_cast<float>(lr.second);
    }
    return AudioData(std::move(l), std::move(r));
}

// For benchmarks that write files (and the peers beside them): the first writes of a run can be
// several times slower than the rest (the file system settling), so the figure to read is the
// median of five repetitions, reported with the other aggregates. One repetition in smoke mode.
inline void medianOfRepetitions(benchmark::internal::Benchmark* b) {
    if (smoke()) return;
    b->Repetitions(5)->ReportAggregatesOnly(true);
}

// A private temporary folder, removed with everything in it when the value goes.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return dir_; }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }
    // The file's path in single quotes, for a shell command.
    std::string quoted(const std::string& name) const;

private:
    std::filesystem::path dir_;
};

// Stereo 48 kHz audio as a 32-bit float WAV file, or as raw interleaved 32-bit floats.
void writeFloatWav(const std::filesystem::path& path, const AudioData& audio);
void writeRawFloat(const std::filesystem::path& path, const AudioData& audio);

// Runs a shell command with its output discarded; true when it succeeded.
bool runQuiet(const std::string& command);

// Times an external peer program; skipped in smoke mode, reported as an error when it fails.
void runPeer(benchmark::State& state, const std::string& command);

// Seconds of input processed per second of benchmark time.
void setRealtime(benchmark::State& state, const AudioData& input);

}  // namespace tessoral::bench
