// Click repair on speech-like material with five resampled clicks and two crackles (made at
// 44.1 kHz, read through the import decoder to 48 kHz), beside the ffmpeg program's adeclick
// filter on the same 48 kHz float file. Each side reports its time and, per damaged spot, the RMS
// difference from the clean import over ±5 ms (counters r1 … r7; "worst" the largest) and beyond
// ±10 ms of every spot ("away": what the repair did to the speech itself).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "processing/AudioIO.h"
#include "processing/Diagnostics.h"
#include "processing/ExportPipeline.h"
#include "support/SpeechLike.h"

using namespace tessoral;

namespace {

constexpr double kSourceRate = 44100.0;

struct Material {
    bench::ScratchDir dir{"click-bench"};
    AudioData clean;
    AudioData dirty;
    std::vector<std::int64_t> centres;
    bool peer = false;

    Material() {
        const std::vector<float> speech = test::speechLike(kSourceRate, bench::smoke() ? 4.0 : 30.0);
        const auto damage = test::clicksAndCrackles(kSourceRate, speech);
        const std::vector<float> hurt = test::damaged(speech, damage);
        ExportPipeline::write(AudioData(speech, speech), kSourceRate, dir / "clean.wav", ExportFormat::wav32f);
        ExportPipeline::write(AudioData(hurt, hurt), kSourceRate, dir / "dirty44.wav", ExportFormat::wav32f);
        clean = AudioIO::read(dir / "clean.wav");
        dirty = AudioIO::read(dir / "dirty44.wav");
        for (const auto& d : damage)
            centres.push_back(std::llround((static_cast<double>(d.at) + static_cast<double>(d.length) / 2.0) * 48000.0 / kSourceRate));
        bench::writeFloatWav(dir / "dirty.wav", dirty);
        peer = bench::runQuiet("ffmpeg -nostdin -version");
    }
};
Material& material() {
    static Material m;
    return m;
}

void report(benchmark::State& state, std::span<const float> repaired) {
    const Material& m = material();
    double worst = 0.0;
    for (std::size_t k = 0; k < m.centres.size(); ++k) {
        double sum = 0.0;
        for (std::int64_t i = m.centres[k] - 240; i < m.centres[k] + 240; ++i) {
            const double d = static_cast<double>(repaired[static_cast<std::size_t>(i)]) - m.clean.left[static_cast<std::size_t>(i)];
            sum += d * d;
        }
        const double rms = std::sqrt(sum / 480.0);
        worst = std::max(worst, rms);
        state.counters["r" + std::to_string(k + 1)] = rms;
    }
    state.counters["worst"] = worst;
    // Away from the damage (beyond ±10 ms): what the repair did to the speech itself.
    double away = 0.0;
    std::int64_t n = 0;
    for (std::int64_t i = 0; i < m.clean.frames(); ++i) {
        bool near = false;
        for (std::int64_t c : m.centres) near = near || std::llabs(i - c) <= 480;
        if (near) continue;
        const double d = static_cast<double>(repaired[static_cast<std::size_t>(i)]) - m.clean.left[static_cast<std::size_t>(i)];
        away += d * d;
        ++n;
    }
    state.counters["away"] = std::sqrt(away / static_cast<double>(std::max<std::int64_t>(n, 1)));
}

// Ours: the scan and the repair of every finding, as Fix All runs them.
void ClickScanAndRepair(benchmark::State& state) {
    const Material& m = material();
    AudioData repaired;
    for (auto _ : state) {
        const auto findings = Diagnostics::detectClicks(m.dirty, {0, m.dirty.frames()}, 0.5);
        repaired = Diagnostics::repairClicks(m.dirty, findings, 0.5).audio;
        benchmark::DoNotOptimize(repaired.left.data());
    }
    report(state, repaired.left.span());
}

// The peer: adeclick over the same 48 kHz file, raw float out.
void FfmpegAdeclickOnSpeechPeer(benchmark::State& state) {
    Material& m = material();
    if (!m.peer) {
        state.SkipWithError("the ffmpeg program is not available");
        return;
    }
    const std::string out = (m.dir / "adeclick.raw").string();
    const std::string command = "ffmpeg -nostdin -v error -y -i " + m.dir.quoted("dirty.wav") + " -af adeclick -f f32le -c:a pcm_f32le '" + out + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
    }
    std::ifstream in(out, std::ios::binary);
    std::vector<float> interleaved(static_cast<std::size_t>(2 * m.dirty.frames()));
    in.read(reinterpret_cast<char*>(interleaved.data()), static_cast<std::streamsize>(interleaved.size() * sizeof(float)));
    std::vector<float> left(interleaved.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = interleaved[2 * i];
    report(state, left);
}

}  // namespace

BENCHMARK(ClickScanAndRepair)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FfmpegAdeclickOnSpeechPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
