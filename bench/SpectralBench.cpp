// Spectrogram, diagnostics scans and spectral repair on an 8-minute stereo clip. Click detection
// runs beside the ffmpeg program's adeclick filter, the clipping and silence scans beside its
// silencedetect filter, on the same material written to a float WAV file (the peers' times include
// reading that file). Repair is timed on 1 s and 10 s regions to show that its cost follows the
// region, not the clip.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "model/SplitMix64.h"
#include "model/AudioData.h"
#include "processing/Diagnostics.h"
#include "processing/SpectralAnalysis.h"
#include "processing/SpectralRepair.h"

using namespace tessoral;

namespace {

// Two voices over light noise, with a click every 1.7 s, a clipped stretch every 13 s and a
// second of silence every 20 s, so every scan has something to find.
const AudioData& material() {
    static const AudioData audio = [] {
        const auto n = static_cast<std::size_t>(bench::frames());
        std::vector<float> l = whiteNoise(n, 41, 0.01), r = whiteNoise(n, 42, 0.01);
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / 48000.0;
            const double a = 0.3 * std::sin(2.0 * std::numbers::pi * 220.0 * t) + 0.1 * std::sin(2.0 * std::numbers::pi * 1250.0 * t);
            const double b = 0.3 * std::sin(2.0 * std::numbers::pi * 330.0 * t) + 0.1 * std::sin(2.0 * std::numbers::pi * 2100.0 * t);
            l[i] += static_cast<float>(a);
            r[i] += static_cast<float>(b);
            if (i % 624'000 < 2'400) {  // clipped stretch: 50 ms driven into full scale
                l[i] = std::clamp(l[i] * 4.0f, -1.0f, 1.0f);
                r[i] = std::clamp(r[i] * 4.0f, -1.0f, 1.0f);
            }
            if (i % 960'000 >= 480'000 && i % 960'000 < 528'000) l[i] = r[i] = 0.0f;
            if (i % 81'600 == 40'000) l[i] += 0.5f;
        }
        return AudioData(std::move(l), std::move(r));
    }();
    return audio;
}

// The material as a 32-bit float WAV in a private temporary folder removed at exit.
struct PeerFile {
    bench::ScratchDir dir{"spectral-bench"};
    std::filesystem::path wav = dir / "clip.wav";
    bool ready = false;

    PeerFile() {
        bench::writeFloatWav(wav, material());
        ready = bench::runQuiet("ffmpeg -nostdin -version");
    }
};
PeerFile& peerFile() {
    static PeerFile f;
    return f;
}

void ffmpegFilter(benchmark::State& state, const std::string& filter) {
    if (bench::smoke()) {
        // Smoke runs leave the external program out.
        for (auto _ : state) {
        }
        state.SetLabel("skipped in smoke mode");
        return;
    }
    PeerFile& f = peerFile();
    if (!f.ready) {
        state.SkipWithError("the ffmpeg program is not available");
        return;
    }
    const std::string command = "ffmpeg -nostdin -v error -i '" + f.wav.string() + "' -af " + filter + " -f null - > /dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
    }
}

FrameRange whole() { return {0, material().frames()}; }

void Spectrogram8Min(benchmark::State& state) {
    const AudioData& audio = material();
    int columns = 0;
    for (auto _ : state) {
        auto image = SpectralAnalysis::spectrogram(audio, 224, 2200, {SpectralScale::log, 66.0});
        columns = image ? image->width : 0;
        benchmark::DoNotOptimize(image);
    }
    state.counters["columns"] = columns;
}

void DetectClicks8Min(benchmark::State& state) {
    const AudioData& audio = material();
    std::size_t found = 0;
    for (auto _ : state) {
        auto findings = Diagnostics::detectClicks(audio, whole(), 0.5);
        found = findings.size();
        benchmark::DoNotOptimize(findings.data());
    }
    state.counters["findings"] = static_cast<double>(found);
}

void FfmpegAdeclickPeer(benchmark::State& state) { ffmpegFilter(state, "adeclick"); }

void DetectClipping8Min(benchmark::State& state) {
    const AudioData& audio = material();
    std::size_t found = 0;
    for (auto _ : state) {
        auto findings = Diagnostics::detectClipping(audio, whole(), -0.1, 3);
        found = findings.size();
        benchmark::DoNotOptimize(findings.data());
    }
    state.counters["findings"] = static_cast<double>(found);
}

void DetectSilence8Min(benchmark::State& state) {
    const AudioData& audio = material();
    std::size_t found = 0;
    for (auto _ : state) {
        auto findings = Diagnostics::detectSilence(audio, whole(), -50.0, 0.5);
        found = findings.size();
        benchmark::DoNotOptimize(findings.data());
    }
    state.counters["findings"] = static_cast<double>(found);
}

void FfmpegSilencedetectPeer(benchmark::State& state) { ffmpegFilter(state, "silencedetect=n=-50dB:d=0.5"); }

// Attenuates (or heals) a region of state.range(0) seconds × 1 kHz in the middle of the clip.
void repairRegion(benchmark::State& state, const SpectralRepairMode& mode) {
    const AudioData& audio = material();
    const double seconds = bench::smoke() ? 0.1 : static_cast<double>(state.range(0));
    const double start = static_cast<double>(audio.frames()) / 48000.0 / 2.0 - seconds / 2.0;
    const SpectralMask mask{{{SpectralMask::Shape::rectangle({start, start + seconds}, {1000.0, 2000.0}), false}}};
    for (auto _ : state) {
        AudioData out = SpectralRepair::repair(audio, mask, mode);
        benchmark::DoNotOptimize(out.left.data());
    }
}

void RepairAttenuate(benchmark::State& state) { repairRegion(state, SpectralRepairMode::attenuate(20.0)); }

// The same with a clip whose samples the caller owns alone and moves in: repaired in place, so
// only the region's own work is timed (the fresh copy is made outside the timing).
void RepairAttenuateOwned(benchmark::State& state) {
    const AudioData& audio = material();
    const double seconds = bench::smoke() ? 0.1 : static_cast<double>(state.range(0));
    const double start = static_cast<double>(audio.frames()) / 48000.0 / 2.0 - seconds / 2.0;
    const SpectralMask mask{{{SpectralMask::Shape::rectangle({start, start + seconds}, {1000.0, 2000.0}), false}}};
    for (auto _ : state) {
        state.PauseTiming();
        AudioData own(audio.left.toVector(), audio.right.toVector());
        state.ResumeTiming();
        AudioData out = SpectralRepair::repair(std::move(own), mask, SpectralRepairMode::attenuate(20.0));
        benchmark::DoNotOptimize(out.left.data());
    }
}
void RepairHeal(benchmark::State& state) { repairRegion(state, SpectralRepairMode::heal()); }

// The floor under any repair: the copy of both channels that a new clip value needs.
void CopyClipPeer(benchmark::State& state) {
    const AudioData& audio = material();
    for (auto _ : state) {
        std::vector<float> l = audio.left.toVector(), r = audio.right.toVector();
        benchmark::DoNotOptimize(l.data());
        benchmark::DoNotOptimize(r.data());
    }
}

}  // namespace

BENCHMARK(Spectrogram8Min)->Unit(benchmark::kMillisecond);
BENCHMARK(DetectClicks8Min)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegAdeclickPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(DetectClipping8Min)->Unit(benchmark::kMillisecond);
BENCHMARK(DetectSilence8Min)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegSilencedetectPeer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RepairAttenuate)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(10);
BENCHMARK(RepairAttenuateOwned)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(10);
BENCHMARK(RepairHeal)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(10);
BENCHMARK(CopyClipPeer)->Unit(benchmark::kMillisecond);
