// A full-budget mixdown (384 MiB of clips, no racks) beside a memcpy of the same bytes, and a
// rack-cache hit.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "BenchSupport.h"
#include "model/Limits.h"
#include "model/Session.h"
#include "processing/RackRenderer.h"

using namespace tessoral;

namespace {

// 60-second clips up to the project's 384 MiB budget, spread over 8 minutes.
const Session& fullProject() {
    static const Session project = [] {
        Session s;
        const std::int64_t clipFrames = bench::smoke() ? 4800 : 48000 * 60;
        const std::int64_t budget = bench::smoke() ? clipFrames * 8 * 4 : limits::kMaxBytes;
        int i = 0;
        while (s.bytes() + clipFrames * 8 <= budget) {
            std::vector<float> l(static_cast<std::size_t>(clipFrames)), r(l.size());
            for (std::size_t k = 0; k < l.size(); ++k) {
                l[k] = static_cast<float>(std::sin(k * 0.001 * (i + 1)) * 0.1);
                r[k] = l[k] * 0.5f;
            }
            Track t;
            t.name = "c";
            t.audio = AudioData(std::move(l), std::move(r));
            t.start = (i % 8) * 60.0;  // spread over 8 minutes, several clips overlapping
            t.gainDB = -3;
            t.pan = (i % 3 - 1) * 0.4;
            s.appendOnNewLane(std::move(t));
            ++i;
        }
        return s;
    }();
    return project;
}

void Mixdown(benchmark::State& state) {
    const Session& s = fullProject();
    for (auto _ : state) {
        AudioData m = RackRenderer::mix(s, std::nullopt);
        benchmark::DoNotOptimize(m.left.data());
    }
    state.SetBytesProcessed(state.iterations() * s.bytes());
}

void MixdownMemcpyPeer(benchmark::State& state) {
    // The same bytes copied once into a fresh buffer of the same size, as a mix writes a fresh result.
    const Session& s = fullProject();
    for (auto _ : state) {
        std::vector<float> out(static_cast<std::size_t>(s.bytes() / 4));
        float* p = out.data();
        for (const auto& t : s.tracks) {
            const auto n = static_cast<std::size_t>(t.frames());
            std::memcpy(p, t.audio.left.data(), n * sizeof(float));
            std::memcpy(p + n, t.audio.right.data(), n * sizeof(float));
            p += 2 * n;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * s.bytes());
}

void RackCacheHit(benchmark::State& state) {
    Track t = Track::make("c", AudioData::silence(bench::smoke() ? 4800 : 48000 * 60));
    EffectSlot slot(EffectPreset::invert);
    t.rack = {slot};
    RackRenderer::render(t);  // fill the cache
    for (auto _ : state) {
        AudioData a = RackRenderer::render(t);
        benchmark::DoNotOptimize(a.left.data());
    }
}

}  // namespace

BENCHMARK(Mixdown)->Unit(benchmark::kMillisecond);
BENCHMARK(MixdownMemcpyPeer)->Unit(benchmark::kMillisecond);
BENCHMARK(RackCacheHit)->Unit(benchmark::kMicrosecond);
