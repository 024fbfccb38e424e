// Noise reduction of an 8-minute stereo clip at strength 0.7 beside sox's noisered on the same
// material and noise.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "model/SplitMix64.h"
#include "model/AudioData.h"
#include "processing/NoiseReduction.h"

using namespace tessoral;

namespace {

// Noise alone (2 seconds) and a voice-like tone with sibilant bursts over the same kind of noise.
struct Material {
    AudioData noiseOnly;
    AudioData clip;
};

const Material& material() {
    static const Material m = [] {
        const auto n = static_cast<std::size_t>(bench::frames());
        Material result;
        result.noiseOnly = AudioData(whiteNoise(96'000, 11, 0.03), whiteNoise(96'000, 12, 0.03));
        std::vector<float> l = whiteNoise(n, 13, 0.03), r = whiteNoise(n, 14, 0.03);
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / 48000.0;
            double voice = 0.0;
            for (int h = 1; h <= 6; ++h) voice += 0.08 / h * std::sin(2.0 * std::numbers::pi * 180.0 * h * t);
            // A 0.1 s burst at 6.5 kHz every half second.
            const double s = (i % 24'000) < 4'800 ? 0.15 * std::sin(2.0 * std::numbers::pi * 6500.0 * t) : 0.0;
            l[i] += static_cast<float>(voice + s);
            r[i] += static_cast<float>(0.9 * voice + s);
        }
        result.clip = AudioData(std::move(l), std::move(r));
        return result;
    }();
    return m;
}

// The material as WAV files and sox's noise profile, in a private temporary folder removed at exit.
struct SoxFiles {
    bench::ScratchDir dir{"bench"};
    bool ready = false;

    SoxFiles() {
        bench::writeFloatWav(dir / "noise.wav", material().noiseOnly);
        bench::writeFloatWav(dir / "clip.wav", material().clip);
        ready = run("sox -q " + quoted("noise.wav") + " -n noiseprof " + quoted("noise.prof"));
    }
    std::string quoted(const std::string& name) const { return dir.quoted(name); }
    static bool run(const std::string& command) { return bench::runQuiet(command); }
};
SoxFiles& soxFiles() {
    static SoxFiles files;
    return files;
}

NoiseProfile profile() {
    const AudioData& n = material().noiseOnly;
    return {NoiseReduction::averageSpectrum(n.left.span()), NoiseReduction::averageSpectrum(n.right.span())};
}

void NoiseReduction8MinStereo(benchmark::State& state) {
    const AudioData& clip = material().clip;
    const NoiseProfile print = profile();
    for (auto _ : state) {
        AudioData out = NoiseReduction::apply(print, clip, {0, clip.frames()}, 0.7);
        benchmark::DoNotOptimize(out.left.data());
    }
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(clip.frames()) / 48000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The peer: sox noisered at 0.7 with a profile learnt from the same noise (its time includes
// reading and writing the WAV files; SoxCopyPeer shows that part alone).
void SoxNoiseredPeer(benchmark::State& state) {
    SoxFiles& files = soxFiles();
    if (!files.ready) {
        state.SkipWithError("sox is not available");
        return;
    }
    const std::string command = "sox -q " + files.quoted("clip.wav") + " " + files.quoted("out.wav") + " noisered " +
                                files.quoted("noise.prof") + " 0.7";
    for (auto _ : state) {
        if (!SoxFiles::run(command)) {
            state.SkipWithError("sox noisered failed");
            break;
        }
    }
}

void SoxCopyPeer(benchmark::State& state) {
    SoxFiles& files = soxFiles();
    if (!files.ready) {
        state.SkipWithError("sox is not available");
        return;
    }
    const std::string command = "sox -q " + files.quoted("clip.wav") + " " + files.quoted("out.wav");
    for (auto _ : state) {
        if (!SoxFiles::run(command)) {
            state.SkipWithError("sox failed");
            break;
        }
    }
}

}  // namespace

BENCHMARK(NoiseReduction8MinStereo)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(SoxNoiseredPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(SoxCopyPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
