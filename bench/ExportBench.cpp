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
// A mix with four hot drops, 480 s of 40 clipped stabs spread everywhere, six minutes of speech
// over a ducked music bed (pre-limited to −0.3 dBFS, as a finished mix is) and four minutes of a
// quiet pad with 30 clipped hits stand beside the same peer too. The AAC exports with a target run on as many threads as the CPUs the benchmark may use
// (the file is the same on any number), each case's peer right after it: the ffmpeg program
// encoding our own 24-bit WAV export of the same case (what our encoder is given) plus its
// ebur128 check; "cpu_s" is the CPU time of all threads (of the child processes for the peer).
// `bench/run.sh --benchmark_filter='Aac(Podcast|Streaming|Encode)'`, and under `taskset -c 0,1` for
// a machine of two cores; `chrt -r 1` before either keeps other work on the machine from deciding.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "model/AudioData.h"
#include "processing/AacStretches.h"
#include "processing/ExportPipeline.h"
#include "processing/Loudness.h"
#include "processing/ReconstructionPeak.h"
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
    // The song with four hot drops: 8 s each, the drums twice as loud and clipped, from 110, 230,
    // 350 and 465 s on (in smoke mode, spread over its length).
    AudioData drops = hotDrops(song);
    // 40 stabs clipped at full scale, 20 to 300 ms, over a quiet pad, spread over the whole length.
    AudioData stabs = clippedStabs();
    // Six minutes of speech in turns of 8 s over music ducked 12 dB under it and up again in the
    // 3-s breaks, limited to −0.3 dBFS.
    AudioData ducked = duckedSpeech();
    // Four minutes of a quiet pad with 30 hits clipped at full scale, 40 to 200 ms each, spread
    // over it.
    AudioData quiet = test::quietBedHits(bench::smoke() ? 1.0 : 240.0, 30, 31);
    bool ready = false;

    static AudioData hotDrops(const AudioData& song) {
        AudioData out = Loudness::scaled(song, 0.5f);
        std::vector<float>& l = out.left.mutableVector();
        std::vector<float>& r = out.right.mutableVector();
        const double seconds = static_cast<double>(l.size()) / 48000.0;
        for (const double at : {110.0, 230.0, 350.0, 465.0}) {
            const auto from = static_cast<std::size_t>(at / 480.0 * seconds * 48000.0);
            for (std::size_t i = from; i < std::min(l.size(), from + 8 * 48000); ++i) {
                l[i] = std::clamp(5.0f * l[i], -1.0f, 1.0f);
                r[i] = std::clamp(5.0f * r[i], -1.0f, 1.0f);
            }
        }
        return out;
    }

    static AudioData clippedStabs() {
        SplitMix64 stabRng(21);
        AudioData out = bench::synthesize(22, [](std::size_t i, SplitMix64& rng) {
            const double t = static_cast<double>(i) / 48000.0, tau = 2.0 * std::numbers::pi;
            const double pad = 0.05 * (std::sin(tau * 196.0 * t) + std::sin(tau * 247.0 * t) + std::sin(tau * 294.0 * t));
            return std::pair{pad + 0.01 * rng.uniform(), pad + 0.01 * rng.uniform()};
        });
        std::vector<float>& l = out.left.mutableVector();
        std::vector<float>& r = out.right.mutableVector();
        const std::size_t n = l.size(), every = n / 40;
        for (std::size_t k = 0; k < 40; ++k) {
            const std::size_t at = k * every + stabRng.next() % (every / 2 + 1);
            const std::size_t length = std::min(n - at, static_cast<std::size_t>(48.0 * (20.0 + 280.0 * std::fabs(stabRng.uniform()))));
            const double hz = 200.0 + 800.0 * std::fabs(stabRng.uniform());
            for (std::size_t i = 0; i < length; ++i) {
                const double x = std::clamp(5.0 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / 48000.0), -1.0, 1.0);
                l[at + i] = static_cast<float>(x);
                r[at + i] = static_cast<float>(0.95 * x);
            }
        }
        return out;
    }

    static AudioData duckedSpeech() {
        const double seconds = bench::smoke() ? 1.0 : 360.0;
        const std::vector<float> speech = test::speechLike(48000.0, seconds, 9);
        SplitMix64 rng(23);
        std::vector<float> l(speech.size()), r(speech.size());
        const double tau = 2.0 * std::numbers::pi;
        for (std::size_t i = 0; i < l.size(); ++i) {
            const double t = static_cast<double>(i) / 48000.0, beat = std::fmod(t, 0.5), turn = std::fmod(t, 11.0);
            const double root = 55.0 * std::pow(2.0, (static_cast<int>(t / 2.0) % 4) / 12.0 * 3.0);
            const double drum = static_cast<long>(t / 0.5) % 2 == 0 ? 0.6 * std::sin(tau * 50.0 * beat) * std::exp(-beat * 8.0)
                                                                     : 0.35 * rng.uniform() * std::exp(-beat * 18.0);
            const double music = drum + 0.2 * std::sin(tau * root * t) + 0.04 * (std::sin(tau * 4 * root * t) + std::sin(tau * 5 * root * t));
            const double talk = std::clamp(std::min(turn, 8.0 - turn) / 0.2, 0.0, 1.0), bed = 1.0 - 0.75 * talk;
            l[i] = static_cast<float>(bed * music + talk * 0.9 * speech[i]);
            r[i] = static_cast<float>(bed * 0.9 * music + talk * 0.9 * speech[i]);
        }
        return Loudness::limited(AudioData(std::move(l), std::move(r)), -0.3);
    }

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
            // What our encoder is given: the export of each case as 24-bit WAV.
            const auto target = [&](const AudioData& audio, const char* name, LoudnessTarget loudness, ExportSampleRate rate = ExportSampleRate::hz48000) {
                ExportPipeline::exportMix(audio, dir / name, {ExportFormat::wav24, rate, loudness, false});
            };
            target(mix, "mix-target.wav", LoudnessTarget::podcast);
            target(hits, "hits-target.wav", LoudnessTarget::podcast);
            target(sting, "sting-target.wav", LoudnessTarget::podcast);
            target(bursts, "bursts-target.wav", LoudnessTarget::streaming);
            target(song, "song8-target.wav", LoudnessTarget::streaming, ExportSampleRate::hz44100);
            target(drops, "drops-target.wav", LoudnessTarget::streaming);
            target(stabs, "stabs-target.wav", LoudnessTarget::streaming);
            target(ducked, "ducked-target.wav", LoudnessTarget::podcast);
            target(quiet, "quiet-target.wav", LoudnessTarget::streaming);
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

// The CPU time (user and system) of this process's threads or of its ended children.
double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What the ffmpeg program decodes `file` to.
AudioData decodedFile(const std::filesystem::path& file) {
    const std::string raw = file.string() + ".f32";
    bench::runQuiet("ffmpeg -nostdin -v error -y -i '" + file.string() + "' -f f32le '" + raw + "'");
    std::ifstream in(raw, std::ios::binary | std::ios::ate);
    std::vector<float> samples(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)) / sizeof(float));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
    std::filesystem::remove(raw);
    std::vector<float> l(samples.size() / 2), r(l.size());
    for (std::size_t i = 0; i < l.size(); ++i) l[i] = samples[2 * i], r[i] = samples[2 * i + 1];
    return AudioData(std::move(l), std::move(r));
}

// The loudest of the gains a quarter dB apart from 0 dB down (to −6 dB) at which one encoder over
// the whole of what the export's encoder is given stays under the aim, its peak read as the export
// reads it; −100 where none does.
double wholeEncoderStep(const AudioData& audio, const ExportOptions& options, const char* name) {
    ExportMaterial& m = material();
    const std::filesystem::path given = m.dir / (std::string(name) + "-given.wav");
    ExportPipeline::exportMix(audio, given, {ExportFormat::wav32f, options.sampleRate, options.loudness, false});
    const AudioData signal = decodedFile(given);
    std::filesystem::remove(given);
    const double aim = truePeakCeiling(options.loudness).value_or(HUGE_VAL) - ExportPipeline::kCeilingMargin;
    const int rate = rawValue(options.effectiveSampleRate());
    for (int from = 0; from < 24; from += 8) {
        std::vector<std::future<double>> peaks;
        for (int step = from; step < from + 8; ++step)
            peaks.push_back(std::async(std::launch::async, [&, step] {
                const std::filesystem::path file = m.dir / (std::string(name) + "-whole" + std::to_string(step) + ".m4a");
                ExportPipeline::write(Loudness::scaled(signal, static_cast<float>(std::pow(10.0, -0.25 * step / 20.0))), rate, file, options.format);
                const double peak = Loudness::decibels(reconstruction_peak::peakLinear(decodedFile(file)));
                std::filesystem::remove(file);
                return peak;
            }));
        for (int step = from; step < from + 8; ++step)
            if (peaks[static_cast<std::size_t>(step - from)].get() <= aim) return -0.25 * step;
    }
    return -100.0;
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
    const double cpu = cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) result = ExportPipeline::exportMix(audio, m.dir / name, options);
    // The file as written: how close the ceiling lets it come to the target.
    state.counters["threads"] = AacStretches::threads();
    state.counters["cpu_s"] = benchmark::Counter(cpuSeconds(RUSAGE_SELF) - cpu, benchmark::Counter::kAvgIterations);
    state.counters["encodings"] = result.encodings;
    // How much of the signal the encoders were given in all, in whole signals.
    double given = 0.0;
    for (const ExportPipeline::TriedEncoding& tried : ExportPipeline::lastTriesForTesting()) {
        given += static_cast<double>(tried.frames) / static_cast<double>(std::max<std::int64_t>(audio.frames(), 1));
        if (std::getenv("TESSORAL_BENCH_TRIES"))
            std::fprintf(stderr, "%s: %+.2f dB %s, %.2f of the signal, started %d%s\n", name, tried.gainDB, tried.over ? "over" : "under",
                         static_cast<double>(tried.frames) / static_cast<double>(audio.frames()), tried.started, tried.file ? ", the file" : "");
    }
    state.counters["encoded"] = given;
    // With TESSORAL_BENCH_WHOLE set (slow), the file's gain beside the loudest step one encoder
    // over the whole signal lands at.
    if (std::getenv("TESSORAL_BENCH_WHOLE")) {
        for (const ExportPipeline::TriedEncoding& tried : ExportPipeline::lastTriesForTesting())
            if (tried.file) state.counters["file_dB"] = tried.gainDB;
        static std::map<std::string, double> wholeSteps;  // once for the repetitions
        if (!wholeSteps.contains(name)) wholeSteps[name] = wholeEncoderStep(audio, options, name);
        state.counters["whole_dB"] = wholeSteps[name];
    }
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
    const double cpu = cpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
    }
    state.counters["cpu_s"] = benchmark::Counter(cpuSeconds(RUSAGE_CHILDREN) - cpu, benchmark::Counter::kAvgIterations);
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
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-podcast.m4a", "mix-target.wav", ebur128Check("peer-podcast.m4a"));
}

void ExportAacPodcastDenseHits8Min(benchmark::State& state) { exportPodcast(state, material().hits, "hits.m4a"); }
void FfmpegAacEncodeAndCheckDenseHitsPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-hits.m4a", "hits-target.wav", ebur128Check("peer-hits.m4a"));
}

// Songs of 2, 3 and 8 minutes as AAC 256 at 44.1 kHz with the streaming target (−14 LUFS, −1 dBTP),
// beside the ffmpeg program's encoding at that rate plus its loudness and true-peak check.
constexpr ExportOptions kStreaming44{ExportFormat::aac256, ExportSampleRate::hz44100, LoudnessTarget::streaming, false};
void ExportAacStreamingSong8Min(benchmark::State& state) { exportPodcast(state, material().song, "song8.m4a", kStreaming44); }
void songPeer(benchmark::State& state, const char* input, const char* name) {
    ffmpegPeer(state, "-c:a aac -b:a 256k", name, input, ebur128Check(name));
}
void ExportAacPodcastOutroSting8Min(benchmark::State& state) { exportPodcast(state, material().sting, "sting.m4a"); }
void FfmpegAacEncodeAndCheckOutroStingPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-sting.m4a", "sting-target.wav", ebur128Check("peer-sting.m4a"));
}
void ExportAacStreamingClippedBursts8Min(benchmark::State& state) {
    exportPodcast(state, material().bursts, "bursts.m4a", {ExportFormat::aac128, ExportSampleRate::hz48000, LoudnessTarget::streaming, false});
}
void FfmpegAacEncodeAndCheckClippedBurstsPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-bursts.m4a", "bursts-target.wav", ebur128Check("peer-bursts.m4a"));
}
constexpr ExportOptions kStreaming48{ExportFormat::aac128, ExportSampleRate::hz48000, LoudnessTarget::streaming, false};
void ExportAacStreamingHotDrops8Min(benchmark::State& state) { exportPodcast(state, material().drops, "drops.m4a", kStreaming48); }
void FfmpegAacEncodeAndCheckHotDropsPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-drops.m4a", "drops-target.wav", ebur128Check("peer-drops.m4a"));
}
void ExportAacStreamingClippedStabs8Min(benchmark::State& state) { exportPodcast(state, material().stabs, "stabs.m4a", kStreaming48); }
void FfmpegAacEncodeAndCheckClippedStabsPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-stabs.m4a", "stabs-target.wav", ebur128Check("peer-stabs.m4a"));
}
void ExportAacStreamingQuietBedHits4Min(benchmark::State& state) { exportPodcast(state, material().quiet, "quiet.m4a", kStreaming48); }
void FfmpegAacEncodeAndCheckQuietBedHitsPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-quiet.m4a", "quiet-target.wav", ebur128Check("peer-quiet.m4a"));
}
void ExportAacPodcastDuckedSpeech6Min(benchmark::State& state) { exportPodcast(state, material().ducked, "ducked.m4a"); }
void FfmpegAacEncodeAndCheckDuckedSpeechPeer(benchmark::State& state) {
    ffmpegPeer(state, "-c:a aac -b:a 128k", "peer-ducked.m4a", "ducked-target.wav", ebur128Check("peer-ducked.m4a"));
}
void FfmpegAacEncodeAndCheckSong8MinPeer(benchmark::State& state) { songPeer(state, "song8-target.wav", "peer-song8.m4a"); }

void ExportFlac44k8Min(benchmark::State& state) {
    exportAs(state, ExportFormat::flac, ExportSampleRate::hz44100, "ours44.flac");
}
void FfmpegFlac44kExportPeer(benchmark::State& state) {
    ffmpegPeer(state, "-af aresample=44100:resampler=soxr:precision=28 -c:a flac -sample_fmt s32", "peer44.flac");
}

// The second of the signal (to the nearest tenth) where its reconstructed peak lies.
double peakSecond(const AudioData& audio) {
    constexpr std::size_t kBlock = 4800, kContext = reconstruction_peak::kBefore + reconstruction_peak::kAfter;
    const std::size_t n = audio.left.size();
    float best = -1.0f;
    std::size_t at = 0;
    for (std::size_t from = 0; from < n; from += kBlock) {
        const std::size_t lo = from - std::min(from, kContext), hi = std::min(n, from + kBlock + kContext);
        const float peak = std::max(reconstruction_peak::peakLinear(audio.left.span().subspan(lo, hi - lo)),
                                    reconstruction_peak::peakLinear(audio.right.span().subspan(lo, hi - lo)));
        if (peak > best) best = peak, at = from;
    }
    return static_cast<double>(at) / 48000.0;
}

// The ducked speech's tries, as the export makes them (joined from stretches) and as one encoder
// makes them whole: the peak each is held to the aim by (dB), for the gains from 0 down to
// −4 dB (the counters j<gain> and w<gain>, the gain in hundredths of a dB), the second where
// each lies (ja<gain>, wa<gain>) and how far the joined one lies from the nearest join (jd<gain>,
// seconds, negative before it).
void AacDuckedSpeechTriesJoinedAndWhole(benchmark::State& state) {
    ExportMaterial& m = material();
    if (!m.ready) {
        state.SkipWithError("the ffmpeg program or the temporary folder is not available");
        return;
    }
    ExportPipeline::exportMix(m.ducked, m.dir / "ducked-given.wav", {ExportFormat::wav32f, ExportSampleRate::hz48000, LoudnessTarget::podcast, false});
    const AudioData given = decodedFile(m.dir / "ducked-given.wav");
    for (auto _ : state) {
        for (int step = 0; step <= 16; ++step) {
            const double gain = -0.25 * step;
            const AudioData scaled = Loudness::scaled(given, static_cast<float>(std::pow(10.0, gain / 20.0)));
            const auto source = [&](std::int64_t from, std::size_t frames, float* l, float* r) {
                for (std::size_t i = 0; i < frames; ++i) {
                    l[i] = std::clamp(scaled.left[static_cast<std::size_t>(from) + i], -1.0f, 1.0f);
                    r[i] = std::clamp(scaled.right[static_cast<std::size_t>(from) + i], -1.0f, 1.0f);
                }
            };
            const AacStretches joined(ExportFormat::aac128, 48000, scaled.frames(), source);
            std::vector<float> joinedLeft, joinedRight;
            joined.decode([&](const float* l, const float* r, std::size_t n) {
                joinedLeft.insert(joinedLeft.end(), l, l + n);
                joinedRight.insert(joinedRight.end(), r, r + n);
            });
            const double joinedAt = peakSecond(AudioData(std::move(joinedLeft), std::move(joinedRight)));
            double fromJoin = HUGE_VAL;
            for (const std::int64_t at : joined.joins())
                if (const double d = joinedAt - static_cast<double>(at) / 48000.0; std::fabs(d) < std::fabs(fromJoin)) fromJoin = d;
            ExportPipeline::write(scaled, 48000, m.dir / "ducked-whole.m4a", ExportFormat::aac128);
            const AudioData whole = decodedFile(m.dir / "ducked-whole.m4a");
            const std::string tag = std::to_string(static_cast<int>(-100.0 * gain));
            state.counters["j" + tag] = Loudness::decibels(joined.peaks().truePeak);
            state.counters["w" + tag] = Loudness::decibels(reconstruction_peak::peakLinear(whole));
            state.counters["ja" + tag] = joinedAt;
            state.counters["jd" + tag] = fromJoin;
            state.counters["wa" + tag] = peakSecond(whole);
        }
    }
}

// Each AAC case and its peer: the median of three, taken in the same minute (once where the
// loudness one encoder over the whole signal allows is sought).
void medianOfThree(benchmark::internal::Benchmark* b) {
    if (!bench::smoke() && !std::getenv("TESSORAL_BENCH_WHOLE")) b->Repetitions(3)->ReportAggregatesOnly(true);
}

}  // namespace

BENCHMARK(ExportFlac8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegFlacExportPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportAac8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegAacExportPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportAacPodcastOutroSting8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckOutroStingPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(ExportAacStreamingClippedBursts8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckClippedBurstsPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(ExportAacStreamingSong8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckSong8MinPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(ExportFlac44k8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegFlac44kExportPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(ExportAacPodcast8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(ExportAacPodcastDenseHits8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckDenseHitsPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(ExportAacStreamingHotDrops8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckHotDropsPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(ExportAacStreamingClippedStabs8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckClippedStabsPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(ExportAacPodcastDuckedSpeech6Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckDuckedSpeechPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(ExportAacStreamingQuietBedHits4Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(FfmpegAacEncodeAndCheckQuietBedHitsPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(medianOfThree);
BENCHMARK(AacDuckedSpeechTriesJoinedAndWhole)->Unit(benchmark::kMillisecond)->Iterations(1);
