// Volume-envelope gains of an 8-minute clip in mixdown blocks of 8192 frames, beside the same
// gains evaluated frame by frame and beside std::fill of the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "BenchSupport.h"
#include "model/Automation.h"

using namespace tessoral;

namespace {

constexpr std::int64_t kBlock = 8192;

// `count` points over the clip: ramps between differing levels, or with `steps` pairs of points
// at one time so that the envelope is a staircase of constant runs.
Envelope envelope(std::size_t count, bool steps) {
    const double seconds = static_cast<double>(bench::frames()) / 48000.0;
    Envelope points;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t k = steps ? i / 2 : i;
        const std::size_t level = steps ? (i + 1) / 2 : i;
        const double t = seconds * static_cast<double>(k) / static_cast<double>(count);
        points.push_back({t, -30.0 * std::fabs(std::sin(static_cast<double>(level) * 0.37))});
    }
    return points;
}

void fillBlocks(benchmark::State& state, const Envelope& points) {
    const std::int64_t total = bench::frames();
    std::vector<float> gains(kBlock);
    for (auto _ : state) {
        for (std::int64_t b = 0; b < total; b += kBlock) {
            Automation::fill(points, {b, std::min(total, b + kBlock)}, true, gains.data());
            benchmark::DoNotOptimize(gains.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * total);
}

void AutomationFillRamps(benchmark::State& state) { fillBlocks(state, envelope(2000, false)); }
void AutomationFillSteps(benchmark::State& state) { fillBlocks(state, envelope(200, true)); }

// Peer: every frame through Automation::value and the dB law.
void AutomationPerFramePeer(benchmark::State& state) {
    const Envelope points = envelope(2000, false);
    const std::int64_t total = bench::frames();
    std::vector<float> gains(kBlock);
    for (auto _ : state) {
        for (std::int64_t b = 0; b < total; b += kBlock) {
            const std::int64_t end = std::min(total, b + kBlock);
            for (std::int64_t f = b; f < end; ++f) {
                const double v = *Automation::value(points, static_cast<double>(f) / 48000.0);
                gains[f - b] = static_cast<float>(std::pow(10.0, v / 20.0));
            }
            benchmark::DoNotOptimize(gains.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * total);
}

// Peer: writing the same number of floats with std::fill.
void AutomationFillConstantPeer(benchmark::State& state) {
    const std::int64_t total = bench::frames();
    std::vector<float> gains(kBlock);
    for (auto _ : state) {
        for (std::int64_t b = 0; b < total; b += kBlock) {
            std::fill(gains.begin(), gains.begin() + (std::min(total, b + kBlock) - b), 0.5f);
            benchmark::DoNotOptimize(gains.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * total);
}

}  // namespace

BENCHMARK(AutomationFillRamps)->Unit(benchmark::kMillisecond);
BENCHMARK(AutomationFillSteps)->Unit(benchmark::kMillisecond);
BENCHMARK(AutomationPerFramePeer)->Unit(benchmark::kMillisecond);
BENCHMARK(AutomationFillConstantPeer)->Unit(benchmark::kMillisecond);
