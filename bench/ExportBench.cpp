// Exporting an 8-minute stereo mix to FLAC and AAC, beside the ffmpeg program encoding the same mix
// (written once as a 32-bit float WAV) with the same encoders. A 44.1 kHz FLAC pair adds the
// conversion, done by soxr at 28-bit precision on both sides. AAC 128 with the podcast target
// (−16 LUFS, −1 dBTP) stands beside the ffmpeg program's encoding plus its own loudness and
// true-peak check of the file (the ebur128 filter), on the plain mix, on dense noise hits and on a
// spoken programme whose only hot spot is a clipped sting 1.5 s before its end, where the encoder
// overshoots the ceiling and the signal is encoded again at lower gains, each encoding in
// stretches side by side ("encodings": those made; "LUFS" and "dBTP" those of the file). A song
// of 8 minutes as AAC 256 at 44.1 kHz and clipped bursts as AAC 128 (several tries each) with the
// streaming target stand beside the same peer.
// The AAC exports with a target run on 8 threads and on 2 (the argument; the file is the same),
// beside the peer on one: `bench/run.sh --benchmark_filter='Aac(Podcast|Streaming|Encode)'`, or
// under `taskset -c 0,1` for a machine of two cores.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "model/AudioData.h"
#include "processing/AacStretches.h"
#include "processing/ExportPipeline.h"
#include "support/SpeechLike.h"
#include "support/TestSignals.h"

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
    // Short noise hits, three to eight a second, over a quiet noise bed.
    AudioData hits = denseHits();
    // A song: drums on every beat at 112 bpm, a bass line and a chord pad.
    AudioData song = bench::synthesize(3, [](std::size_t i, SplitMix64& rng) {
        const double t = static_cast<double>(i) / 48000.0, beat = std::fmod(t, 60.0 / 112.0);
        const double tau = 2.0 * std::numbers::pi, root = 55.0 * std::pow(2.0, (static_cast<int>(t / 4.3) % 3) / 12.0 * 5.0);
        const bool kick = static_cast<long>(t * 112.0 / 60.0) % 2 == 0;
        const double drum = kick ? 0.8 * std::sin(tau * 60.0 * beat * (1.0 + std::exp(-beat * 40.0))) * std::exp(-beat * 9.0)
                                 : 0.5 * rng.uniform() * std::exp(-beat * 16.0);
        const double pad = 0.06 * (std::sin(tau * 3.0 * root * t) + std::sin(tau * 3.75 * root * t) + std::sin(tau * 4.5 * root * t));
        const double hat = 0.1 * rng.uniform() * std::exp(-std::fmod(t, 30.0 / 112.0) * 70.0);
        const double bass = 0.3 * std::sin(tau * root * t);
        return std::pair{drum + pad + bass + 0.8 * hat, drum + 1.1 * pad + bass + 1.2 * hat};
    });
    // Speech with a 1-s clipped burst ending 1.5 s before the end.
    AudioData sting = outroSting();
    // Square bursts clipped at half scale and stabs clipped at full scale over a quiet bed.
    AudioData bursts = test::clippedBursts(static_cast<double>(bench::frames()) / 48000.0, 12);
    bool ready = false;

    static AudioData outroSting() {
        const std::vector<float> speech = test::speechLike(48000.0, static_cast<double>(bench::frames()) / 48000.0, 5);
        std::vector<float> l(speech.size()), r(speech.size());
        for (std::size_t i = 0; i < speech.size(); ++i) l[i] = 0.5f * speech[i], r[i] = 0.45f * speech[i];
        const std::size_t end = l.size() - std::min<std::size_t>(l.size(), 72000);
        for (std::size_t i = end - std::min<std::size_t>(end, 48000); i < end; ++i) {
            const double x = std::clamp(6.0 * std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000.0), -1.0, 1.0);
            l[i] = static_cast<float>(x);
            r[i] = static_cast<float>(-0.9 * x);
        }
        return AudioData(std::move(l), std::move(r));
    }

    static AudioData denseHits() {
        SplitMix64 rng(40);
        AudioData audio = bench::synthesize(2, [](std::size_t, SplitMix64& bed) {
            return std::pair{0.01 * bed.uniform(), 0.01 * bed.uniform()};
        });
        std::vector<float>& l = audio.left.mutableVector();
        std::vector<float>& r = audio.right.mutableVector();
        const std::size_t n = l.size();
        for (std::size_t at = 2400; at < n;) {
            const double level = 0.4 + 0.6 * std::fabs(rng.uniform());
            const double decay = 48.0 * (2.0 + 6.0 * std::fabs(rng.uniform()));
            const std::size_t length = std::min(n - at, static_cast<std::size_t>(6.0 * decay));
            for (std::size_t i = 0; i < length; ++i) {
                const double envelope = level * std::exp(-static_cast<double>(i) / decay);
                l[at + i] = static_cast<float>(std::clamp(l[at + i] + envelope * rng.uniform(), -1.0, 1.0));
                r[at + i] = static_cast<float>(std::clamp(r[at + i] + envelope * rng.uniform(), -1.0, 1.0));
            }
            at += static_cast<std::size_t>(48000.0 * (0.12 + 0.2 * std::fabs(rng.uniform())));
        }
        return audio;
    }

    ExportMaterial() {
        try {
            ExportPipeline::write(song, 48000, dir / "song8.wav", ExportFormat::wav32f);
            ExportPipeline::write(sting, 48000, dir / "sting.wav", ExportFormat::wav32f);
            ExportPipeline::write(bursts, 48000, dir / "bursts.wav", ExportFormat::wav32f);
            ExportPipeline::write(mix, 48000, dir / "mix.wav", ExportFormat::wav32f);
            ExportPipeline::write(hits, 48000, dir / "hits.wav", ExportFormat::wav32f);
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

// AAC 128 with the podcast target: normalised, limited, encoded, and what the file decodes to
// measured (and encoded again at lower gains where it overshoots).
void exportPodcast(benchmark::State& state, const AudioData& audio, const char* name,
                   ExportOptions options = {ExportFormat::aac128, ExportSampleRate::hz48000, LoudnessTarget::podcast, false}) {
    ExportMaterial& m = material();
    if (!m.ready) {
        state.SkipWithError("the ffmpeg program or the temporary folder is not available");
        return;
    }
    ExportResult result;
    AacStretches::setThreads(static_cast<int>(state.range(0)));
    for (auto _ : state) result = ExportPipeline::exportMix(audio, m.dir / name, options);
    AacStretches::setThreads(0);
    // The file as written: how close the ceiling lets it come to the target.
    state.counters["encodings"] = result.encodings;
    state.counters["LUFS"] = result.measurement.lufs.value_or(-HUGE_VAL);
    state.counters["dBTP"] = result.measurement.truePeak;
    state.SetBytesProcessed(state.iterations() * audio.bytes());
}

// The peer: the ffmpeg program reading the float WAV and writing the same format; `then` runs
// after it in the same timing.
void ffmpegPeer(benchmark::State& state, const std::string& arguments, const char* name, const char* input = "mix.wav",
                const std::string& then = {}) {
    ExportMaterial& m = material();
    if (!m.ready) {
        state.SkipWithError("the ffmpeg program or the temporary folder is not available");
        return;
    }
    const std::string command = "ffmpeg -nostdin -v error -y -i " + m.dir.quoted(input) + " " + arguments + " " +
                                m.dir.quoted(name) + " 2>/dev/null" + (then.empty() ? "" : " && " + then);
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

// The ffmpeg program's loudness and true-peak measurement of the encoded file.
std::string ebur128Check(const char* name) {
    return "ffmpeg -nostdin -v info -i " + material().dir.quoted(name) + " -af ebur128=peak=true -f null - 2>/dev/null";
}

void ExportAacPodcast8Min(benchmark::State& state) { exportPodcast(state, material().mix, "podcast.m4a"); }
void FfmpegAacEncodeAndCheckPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-podcast.m4a", "mix.wav", ebur128Check("peer-podcast.m4a"));
}

void ExportAacPodcastDenseHits8Min(benchmark::State& state) { exportPodcast(state, material().hits, "hits.m4a"); }
void FfmpegAacEncodeAndCheckDenseHitsPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-hits.m4a", "hits.wav", ebur128Check("peer-hits.m4a"));
}

// Songs of 2, 3 and 8 minutes as AAC 256 at 44.1 kHz with the streaming target (−14 LUFS, −1 dBTP),
// beside the ffmpeg program's encoding at that rate plus its loudness and true-peak check.
constexpr ExportOptions kStreaming44{ExportFormat::aac256, ExportSampleRate::hz44100, LoudnessTarget::streaming, false};
void ExportAacStreamingSong8Min(benchmark::State& state) { exportPodcast(state, material().song, "song8.m4a", kStreaming44); }
void songPeer(benchmark::State& state, const char* input, const char* name) {
    ffmpegPeer(state, "-ar 44100 -c:a aac -b:a 256k", name, input, ebur128Check(name));
}
void ExportAacPodcastOutroSting8Min(benchmark::State& state) { exportPodcast(state, material().sting, "sting.m4a"); }
void FfmpegAacEncodeAndCheckOutroStingPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-sting.m4a", "sting.wav", ebur128Check("peer-sting.m4a"));
}
void ExportAacStreamingClippedBursts8Min(benchmark::State& state) {
    exportPodcast(state, material().bursts, "bursts.m4a", {ExportFormat::aac128, ExportSampleRate::hz48000, LoudnessTarget::streaming, false});
}
void FfmpegAacEncodeAndCheckClippedBurstsPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-bursts.m4a", "bursts.wav", ebur128Check("peer-bursts.m4a"));
}
void FfmpegAacEncodeAndCheckSong8MinPeer(benchmark::State& state) { songPeer(state, "song8.wav", "peer-song8.m4a"); }

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
BENCHMARK(ExportAacPodcastOutroSting8Min)->ArgName("threads")->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegAacEncodeAndCheckOutroStingPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportAacStreamingClippedBursts8Min)->ArgName("threads")->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegAacEncodeAndCheckClippedBurstsPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportAacStreamingSong8Min)->ArgName("threads")->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegAacEncodeAndCheckSong8MinPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportFlac44k8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegFlac44kExportPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportAacPodcast8Min)->ArgName("threads")->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegAacEncodeAndCheckPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportAacPodcastDenseHits8Min)->ArgName("threads")->Arg(8)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegAacEncodeAndCheckDenseHitsPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
