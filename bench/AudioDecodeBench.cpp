// Decoding an 8-minute 44.1 kHz stereo FLAC and MP3 to 48 kHz stereo, beside the ffmpeg program
// decoding and resampling (soxr) the same files to raw float. Medians of five.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "model/AudioData.h"
#include "processing/AudioIO.h"

using namespace tessoral;

namespace {

// The encoded files, made by the ffmpeg program in a private temporary folder removed at exit.
struct DecodeFiles {
    std::filesystem::path dir;
    bool ready = false;

    DecodeFiles() {
        dir = std::filesystem::temp_directory_path() / ("tessoral-decode-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        // Two tones over a little noise, so the lossless coder has real work to do.
        std::string source = "-f lavfi -i 'aevalsrc=0.3*sin(2*PI*220*t)+0.02*(random(0)-0.5)|";
        source += "0.3*sin(2*PI*330*t)+0.02*(random(1)-0.5):s=44100:d=";
        source += bench::smoke() ? "1'" : "480'";
        std::string flac = "ffmpeg -nostdin -v error -y ";
        flac += source;
        flac += " -c:a flac ";
        flac += quoted("clip.flac");
        std::string mp3 = "ffmpeg -nostdin -v error -y -i ";
        mp3 += quoted("clip.flac");
        mp3 += " -c:a libmp3lame -b:a 192k ";
        mp3 += quoted("clip.mp3");
        ready = run(flac) && run(mp3);
    }
    ~DecodeFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string quoted(const std::string& name) const {
        std::string q = "'";
        q += (dir / name).string();
        q += "'";
        return q;
    }
    static bool run(std::string command) {
        command += " 2>/dev/null";
        return std::system(command.c_str()) == 0;
    }
};

DecodeFiles& files() {
    static DecodeFiles f;
    return f;
}

// `threads` 0: read(path) as the program calls it.
void decode(benchmark::State& state, const char* name, int threads = 0) {
    DecodeFiles& f = files();
    if (!f.ready) {
        state.SkipWithError("the ffmpeg program is not available");
        return;
    }
    std::int64_t frames = 0;
    for (auto _ : state) {
        AudioData audio = threads > 0 ? AudioIO::read(f.dir / name, threads) : AudioIO::read(f.dir / name);
        frames = audio.frames();
        benchmark::DoNotOptimize(audio.left.data());
    }
    state.counters["frames"] = static_cast<double>(frames);
}

// The peer: the same decode and soxr resampling to 48 kHz float by the ffmpeg program.
void ffmpegPeer(benchmark::State& state, const char* name) {
    DecodeFiles& f = files();
    if (!f.ready) {
        state.SkipWithError("the ffmpeg program is not available");
        return;
    }
    std::string command = "ffmpeg -nostdin -v error -i ";
    command += f.quoted(name);
    command += " -af aresample=48000:resampler=soxr -f f32le - > /dev/null";
    for (auto _ : state) {
        if (!DecodeFiles::run(command)) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
    }
}

void DecodeFlac8Min(benchmark::State& state) { decode(state, "clip.flac"); }
// The codec on one thread: only the decoding and resampling pipeline works in parallel.
void DecodeFlac8MinOneCodecThread(benchmark::State& state) { decode(state, "clip.flac", 1); }
void FfmpegDecodeFlacPeer(benchmark::State& state) { ffmpegPeer(state, "clip.flac"); }
void DecodeMp38Min(benchmark::State& state) { decode(state, "clip.mp3"); }
void FfmpegDecodeMp3Peer(benchmark::State& state) { ffmpegPeer(state, "clip.mp3"); }

}  // namespace

BENCHMARK(DecodeFlac8Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(DecodeFlac8MinOneCodecThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(FfmpegDecodeFlacPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(DecodeMp38Min)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(FfmpegDecodeMp3Peer)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
