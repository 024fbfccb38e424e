// Centre extraction of an 8-minute stereo clip (remove mode, 100 Hz … 8 kHz) beside its bare
// short-time transforms: two forward and two inverse 4096-point FFTs per 1024-frame hop, the
// floor any kernel of this framing pays.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "BenchSupport.h"
#include "model/SplitMix64.h"
#include "model/AudioData.h"
#include "processing/ChannelOps.h"
#include "processing/FFT.h"

using namespace tessoral;

namespace {

// A centred voice-like tone over independent fixed-seed noise in each channel.
const AudioData& material() {
    static const AudioData audio = bench::synthesize(2024, [](std::size_t i, SplitMix64& rng) {
        const double t = static_cast<double>(i) / 48000.0;
        double voice = 0.0;
        for (int h = 1; h <= 5; ++h) voice += 0.1 / h * std::sin(2.0 * std::numbers::pi * 200.0 * h * t);
        const double left = voice + 0.05 * rng.uniform();
        const double right = voice + 0.05 * rng.uniform();
        return std::pair{left, right};
    });
    return audio;
}

void realtimeCounter(benchmark::State& state, std::int64_t frames) {
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(frames) / 48000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void CenterExtract8MinStereo(benchmark::State& state) {
    const AudioData& clip = material();
    const ChannelOperation op = ChannelOperation::center({CenterMode::remove, 100.0, 8000.0});
    for (auto _ : state) {
        AudioData out = ChannelOps::apply(op, clip, {0, clip.frames()});
        benchmark::DoNotOptimize(out.left.data());
    }
    realtimeCounter(state, clip.frames());
}

// The peer: the same frames through the same FFT with nothing done between the transforms.
void CenterTransformsPeer(benchmark::State& state) {
    const AudioData& clip = material();
    const std::int64_t n = clip.frames();
    for (auto _ : state) {
        FFT fft(4096);
        std::vector<float> frame(4096), re(2048), im(2048), outL(static_cast<std::size_t>(n)), outR(static_cast<std::size_t>(n));
        for (std::int64_t t = -3072; t < n; t += 1024) {
            for (int c = 0; c < 2; ++c) {
                const float* x = c == 0 ? clip.left.data() : clip.right.data();
                float* out = c == 0 ? outL.data() : outR.data();
                for (int k = 0; k < 4096; ++k) frame[static_cast<std::size_t>(k)] = t + k >= 0 && t + k < n ? x[t + k] : 0.0f;
                fft.forward(frame, re, im);
                fft.inverse(re, im, frame);
                for (int k = 0; k < 4096; ++k)
                    if (t + k >= 0 && t + k < n) out[t + k] += frame[static_cast<std::size_t>(k)];
            }
        }
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
    }
    realtimeCounter(state, n);
}

}  // namespace

BENCHMARK(CenterExtract8MinStereo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CenterTransformsPeer)->Unit(benchmark::kMillisecond)->UseRealTime();
