// Integrated loudness plus true peak of an 8-minute stereo clip, beside libebur128 doing the
// same (EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK) on the same samples.
#include <benchmark/benchmark.h>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "BenchSupport.h"
#include "model/SplitMix64.h"
#include "model/AudioData.h"
#include "processing/Loudness.h"
#include "processing/TruePeakLimiter.h"

using namespace tessoral;

namespace {

// Programme-like material: two tones and fixed-seed noise whose level changes every few
// seconds, so the gates have work to do.
const AudioData& material() {
    static const AudioData audio = bench::synthesize(12345, [](std::size_t i, SplitMix64& rng) {
        const double level = 0.05 + 0.3 * ((i / 144000) % 4) / 3.0;
        const double left = level * (std::sin(i * 0.0571) + 0.3 * rng.uniform());
        const double right = level * (std::cos(i * 0.0133) + 0.3 * rng.uniform());
        return std::pair{left, right};
    });
    return audio;
}

void LoudnessIntegratedAndTruePeak(benchmark::State& state) {
    const AudioData& audio = material();
    for (auto _ : state) {
        const std::optional<double> lufs = Loudness::integrated(audio);
        const float peak = Loudness::truePeakLinear(audio);
        benchmark::DoNotOptimize(lufs);
        benchmark::DoNotOptimize(peak);
    }
    state.SetBytesProcessed(state.iterations() * audio.bytes());
}

// The peer, given the samples already interleaved as it takes them.
void Ebur128IntegratedAndTruePeak(benchmark::State& state) {
    const AudioData& audio = material();
    const auto n = static_cast<std::size_t>(audio.frames());
    std::vector<float> interleaved(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        interleaved[2 * i] = audio.left[i];
        interleaved[2 * i + 1] = audio.right[i];
    }
    for (auto _ : state) {
        ebur128_state* st = ebur128_init(2, 48000, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
        ebur128_add_frames_float(st, interleaved.data(), n);
        double lufs = 0.0, left = 0.0, right = 0.0;
        ebur128_loudness_global(st, &lufs);
        ebur128_true_peak(st, 0, &left);
        ebur128_true_peak(st, 1, &right);
        benchmark::DoNotOptimize(lufs);
        benchmark::DoNotOptimize(std::max(left, right));
        ebur128_destroy(&st);
    }
    state.SetBytesProcessed(state.iterations() * audio.bytes());
}

// The limiter on the same clip pulled down to −12 dBTP (no peer: for the record).
void TruePeakLimiterApply(benchmark::State& state) {
    const AudioData& audio = material();
    for (auto _ : state) {
        AudioData out = TruePeakLimiter::apply(audio, -12.0, 0.0015, 0.08);
        benchmark::DoNotOptimize(out.left.data());
    }
    state.SetBytesProcessed(state.iterations() * audio.bytes());
}

}  // namespace

BENCHMARK(LoudnessIntegratedAndTruePeak)->Unit(benchmark::kMillisecond);
BENCHMARK(Ebur128IntegratedAndTruePeak)->Unit(benchmark::kMillisecond);
BENCHMARK(TruePeakLimiterApply)->Unit(benchmark::kMillisecond);
