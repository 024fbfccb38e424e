// Peaks and both drawing envelopes of an 8-minute clip, beside a memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "BenchSupport.h"
#include "model/AudioData.h"
#include "model/Limits.h"

using namespace tessoral;

namespace {

const AudioData& material() {
    static const AudioData audio = bench::synthesize(0, [](std::size_t i, SplitMix64&) {
        return std::pair{std::sin(i * 0.01) * 0.5, std::cos(i * 0.013) * 0.4};
    });
    return audio;
}

void DrawingCaches(benchmark::State& state) {
    const AudioData& audio = material();
    for (auto _ : state) {
        auto peaks = audio.peaks(limits::kPeakBins);
        auto left = audio.envelope(false, limits::kEnvelopeBins);
        auto right = audio.envelope(true, limits::kEnvelopeBins);
        benchmark::DoNotOptimize(peaks.data());
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetBytesProcessed(state.iterations() * audio.bytes());
}

// The peer: copying the clip's samples once.
void MemcpyPeer(benchmark::State& state) {
    const AudioData& audio = material();
    const auto n = static_cast<std::size_t>(audio.frames());
    std::vector<float> l(n), r(n);
    for (auto _ : state) {
        std::memcpy(l.data(), audio.left.data(), n * sizeof(float));
        std::memcpy(r.data(), audio.right.data(), n * sizeof(float));
        benchmark::DoNotOptimize(l.data());
        benchmark::DoNotOptimize(r.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * audio.bytes());
}

}  // namespace

BENCHMARK(DrawingCaches)->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpyPeer)->Unit(benchmark::kMillisecond);
