// Exporting an 8-minute stereo mix to FLAC and AAC, beside the ffmpeg program encoding the same mix
// (written once as a 32-bit float WAV) with the same encoders. A 44.1 kHz FLAC pair adds the
// conversion, done by soxr at 28-bit precision on both sides.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <utility>

#include "BenchSupport.h"
#include "model/AudioData.h"
#include "processing/ExportPipeline.h"

using namespace tessoral;

namespace {

// The mix, and its float WAV for the peer, in a private temporary folder removed at exit.
struct ExportMaterial {
    bench::ScratchDir dir{"export-bench"};
    // Two tones over fixed-seed noise, so the lossless coder has real work to do.
    AudioData mix = bench::synthesize(1, [](std::size_t i, SplitMix64& rng) {
        const double t = static_cast<double>(i) / 48000.0;
        return std::pair{0.3 * std::sin(2.0 * std::numbers::pi * 220.0 * t) + 0.02 * rng.uniform(),
                         0.3 * std::sin(2.0 * std::numbers::pi * 330.0 * t) + 0.02 * rng.uniform()};
    });
    bool ready = false;

    ExportMaterial() {
        try {
            ExportPipeline::write(mix, 48000, dir / "mix.wav", ExportFormat::wav32f);
            ready = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
        } catch (...) {
            ready = false;
        }
    }
};

ExportMaterial& material() {
    static ExportMaterial m;
    return m;
}

void exportAs(benchmark::State& state, ExportFormat format, ExportSampleRate rate, const char* name) {
    ExportMaterial& m = material();
    if (!m.ready) {
        state.SkipWithError("the ffmpeg program or the temporary folder is not available");
        return;
    }
    const ExportOptions options{format, rate, LoudnessTarget::none, false};
    for (auto _ : state) {
        const ExportResult result = ExportPipeline::exportMix(m.mix, m.dir / name, options);
        benchmark::DoNotOptimize(result.frames);
    }
    state.SetBytesProcessed(state.iterations() * m.mix.bytes());
}

// The peer: the ffmpeg program reading the float WAV and writing the same format.
void ffmpegPeer(benchmark::State& state, const std::string& arguments, const char* name) {
    ExportMaterial& m = material();
    if (!m.ready) {
        state.SkipWithError("the ffmpeg program or the temporary folder is not available");
        return;
    }
    const std::string command = "ffmpeg -nostdin -v error -y -i " + m.dir.quoted("mix.wav") + " " + arguments + " " +
                                m.dir.quoted(name) + " 2>/dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * m.mix.bytes());
}

void ExportFlac8Min(benchmark::State& state) {
    exportAs(state, ExportFormat::flac, ExportSampleRate::hz48000, "ours.flac");
}
void FfmpegFlacExportPeer(benchmark::State& state) { ffmpegPeer(state, "-c:a flac -sample_fmt s32", "peer.flac"); }

void ExportAac8Min(benchmark::State& state) {
    exportAs(state, ExportFormat::aac256, ExportSampleRate::hz48000, "ours.m4a");
}
void FfmpegAacExportPeer(benchmark::State& state) { ffmpegPeer(state, "-c:a aac -b:a 256k", "peer.m4a"); }

void ExportFlac44k8Min(benchmark::State& state) {
    exportAs(state, ExportFormat::flac, ExportSampleRate::hz44100, "ours44.flac");
}
void FfmpegFlac44kExportPeer(benchmark::State& state) {
    ffmpegPeer(state, "-af aresample=44100:resampler=soxr:precision=28 -c:a flac -sample_fmt s32", "peer44.flac");
}

}  // namespace

BENCHMARK(ExportFlac8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegFlacExportPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportAac8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegAacExportPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportFlac44k8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegFlac44kExportPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
