// The playback timer's meter tick: the peak scan of 1600 frames plus the loudness of the
// frames played since the last tick (1600 as usual, up to 144,000 after a jump), beside
// libebur128 measuring momentary and short-term loudness of the same frames. The budget is
// one tick of 1/30 s.
#include <benchmark/benchmark.h>

#include <ebur128.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "BenchSupport.h"
#include "model/AudioData.h"
#include "model/Defaults.h"
#include "transport/AudioTransport.h"
#include "transport/ManualScheduler.h"
#include "transport/NullAudioBackend.h"

using namespace tessoral;

namespace {

const AudioData& material() {
    static const AudioData audio = bench::synthesize(777, [](std::size_t i, SplitMix64& rng) {
        const double left = 0.3 * std::sin(i * 0.0571) + 0.1 * rng.uniform();
        const double right = 0.3 * std::cos(i * 0.0133) + 0.1 * rng.uniform();
        return std::pair{left, right};
    });
    return audio;
}

// Frames advanced per tick: the usual 1600, or a 3-second jump (less in smoke mode).
std::int64_t stepFrames(const benchmark::State& state) {
    return std::min<std::int64_t>(state.range(0), bench::frames() / 4);
}

void MeterTick(benchmark::State& state) {
    NullAudioBackend backend(NullAudioBackend::Mode::manual);
    ManualScheduler scheduler;
    MemoryDefaults defaults;
    AudioTransport transport(backend, scheduler, defaults);
    transport.play(material(), 0.0, true, std::nullopt);
    const std::int64_t step = stepFrames(state);
    for (auto _ : state) {
        state.PauseTiming();
        backend.pump(step);  // the audio thread's work, not the tick's
        state.ResumeTiming();
        scheduler.advance();
        benchmark::DoNotOptimize(transport.leftLevel());
    }
    state.counters["tick_budget_ms"] = 1000.0 / 30.0;
    state.SetItemsProcessed(state.iterations() * step);
}

// The peer: libebur128 fed the same number of frames per tick, then asked for both figures.
void Ebur128MeterTick(benchmark::State& state) {
    const AudioData& audio = material();
    const std::int64_t step = stepFrames(state);
    const auto frames = audio.frames();
    std::vector<float> interleaved(static_cast<std::size_t>(2 * frames));
    for (std::int64_t i = 0; i < frames; ++i) {
        interleaved[static_cast<std::size_t>(2 * i)] = audio.left[static_cast<std::size_t>(i)];
        interleaved[static_cast<std::size_t>(2 * i + 1)] = audio.right[static_cast<std::size_t>(i)];
    }
    ebur128_state* st = ebur128_init(2, 48000, EBUR128_MODE_M | EBUR128_MODE_S);
    std::int64_t at = 0;
    for (auto _ : state) {
        if (at + step > frames) at = 0;
        ebur128_add_frames_float(st, interleaved.data() + 2 * at, static_cast<std::size_t>(step));
        at += step;
        double m = 0.0, s = 0.0;
        ebur128_loudness_momentary(st, &m);
        ebur128_loudness_shortterm(st, &s);
        benchmark::DoNotOptimize(m + s);
    }
    ebur128_destroy(&st);
    state.SetItemsProcessed(state.iterations() * step);
}

}  // namespace

BENCHMARK(MeterTick)->Arg(1600)->Arg(144000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Ebur128MeterTick)->Arg(1600)->Arg(144000)->Unit(benchmark::kMicrosecond);
