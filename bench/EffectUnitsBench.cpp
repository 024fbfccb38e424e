// The fourteen unit-graph presets and the time/pitch change on an 8-minute stereo clip, each beside
// an external program doing the same kind of work on the same WAV file written here (the stretch
// takes the first 6 min 24 s, so that rate 0.8 gives the longest allowed result): sox's
// equalizer, highpass/lowpass, bass, compand, reverb, echo and overdrive effects, and Rubber Band's
// own command-line program for the stretch (the same library and engine, so that figure shows what
// our plumbing costs). A bare sox copy of the file shows the peers' reading and writing time.
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
#include "model/AudioData.h"
#include "model/EffectParameters.h"
#include "model/EnumTraits.h"
#include "processing/AudioIOEffect.h"
#include "processing/TimePitch.h"

using namespace tessoral;

namespace {

// Music-like material: a slow chord progression with a plucked envelope, plus a little noise.
const AudioData& music() {
    static const AudioData audio = [] {
        const auto n = static_cast<std::size_t>(bench::frames());
        std::vector<float> l(n), r(n);
        std::uint64_t state = 7;
        auto uniform = [&] {
            std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            return static_cast<double>(z >> 11) * 0x1.0p-53 * 2.0 - 1.0;
        };
        const double roots[4] = {110.0, 146.83, 130.81, 164.81};
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / 48000.0;
            const double root = roots[(i / 96'000) % 4];
            const double pluck = std::exp(-3.0 * std::fmod(t, 0.5));
            double v = 0.0;
            for (double ratio : {1.0, 1.25, 1.5, 2.0}) v += 0.12 * std::sin(2.0 * std::numbers::pi * root * ratio * t);
            l[i] = static_cast<float>(pluck * v + 0.01 * uniform());
            r[i] = static_cast<float>(0.9 * pluck * v + 0.01 * uniform());
        }
        return AudioData(std::move(l), std::move(r));
    }();
    return audio;
}

// The clip as a 32-bit float WAV file in a private folder removed at exit.
struct WavFile {
    std::filesystem::path dir;
    std::filesystem::path path;

    WavFile() {
        std::string name = "tessoral-unitbench-";
        name += std::to_string(::getpid());
        dir = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(dir);
        path = dir / "in.wav";
        const AudioData& a = music();
        const auto frames = static_cast<std::uint32_t>(a.frames());
        const std::uint32_t dataBytes = frames * 8;
        std::ofstream out(path, std::ios::binary);
        auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        out.write("RIFF", 4);
        u32(4 + 26 + 12 + 8 + dataBytes);
        out.write("WAVEfmt ", 8);
        u32(18);
        u16(3);  // IEEE float
        u16(2);
        u32(48000);
        u32(48000 * 8);
        u16(8);
        u16(32);
        u16(0);
        out.write("fact", 4);
        u32(4);
        u32(frames);
        out.write("data", 4);
        u32(dataBytes);
        std::vector<float> block;
        for (std::size_t start = 0; start < a.left.size(); start += 65'536) {
            const std::size_t count = std::min<std::size_t>(65'536, a.left.size() - start);
            block.resize(2 * count);
            for (std::size_t i = 0; i < count; ++i) {
                block[2 * i] = a.left[start + i];
                block[2 * i + 1] = a.right[start + i];
            }
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 4));
        }
    }
    ~WavFile() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string quoted(const std::filesystem::path& p) const { return "'" + p.string() + "'"; }
    std::string in() const { return quoted(path); }
    std::string out() const { return quoted(dir / "out.wav"); }
};

const WavFile& wavFile() {
    static const WavFile f;
    return f;
}

// Seconds of input processed per second.
void setRealtime(benchmark::State& state, const AudioData& input = music()) {
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(input.frames()) / 48000.0 * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

void runPeer(benchmark::State& state, const std::string& command, const AudioData& input = music()) {
    if (bench::smoke()) {
        // Smoke runs leave the external programs out.
        for (auto _ : state) {
        }
        state.SetLabel("skipped in smoke mode");
        return;
    }
    const std::string quiet = command + " >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(quiet.c_str()) != 0) {
            state.SkipWithError("the peer program is not available or failed");
            return;
        }
    }
    setRealtime(state, input);
}

std::string sox(const std::string& effects) {
    return "sox -q " + wavFile().in() + " -e floating-point " + wavFile().out() + " " + effects;
}

struct Case {
    EffectPreset preset;
    const char* peer;  // sox effects doing comparable work with the preset's default settings
};

const Case kCases[] = {
    {EffectPreset::voice, "highpass 85 equalizer 3200 1.5o 2.5 compand 0.005,0.12 6:-20,-20,0,-12"},
    {EffectPreset::lowCut, "highpass 100"},
    {EffectPreset::dehum50, "equalizer 50 0.08o -30 equalizer 100 0.08o -24 equalizer 150 0.08o -18"},
    {EffectPreset::dehum60, "equalizer 60 0.08o -30 equalizer 120 0.08o -24 equalizer 180 0.08o -18"},
    {EffectPreset::telephone, "highpass 300 lowpass 3400"},
    {EffectPreset::warm, "bass 3 180"},
    {EffectPreset::bright, "equalizer 3200 1.5o 2.5"},
    {EffectPreset::compressor, "compand 0.005,0.12 6:-20,-20,0,-12"},
    {EffectPreset::limiter, "compand 0.003,0.05 -1,-1,0,-1 -1"},
    {EffectPreset::reverb, "reverb -w 40 50 40 100 8"},
    {EffectPreset::hall, "reverb -w 70 50 80 100 20"},
    {EffectPreset::cathedral, "reverb -w 100 40 100 100 35"},
    {EffectPreset::echo, "echo 0.74 0.88 270 0.32"},
    {EffectPreset::distortion, "overdrive 20 20"},
};

void PresetBench(benchmark::State& state, EffectPreset preset) {
    const AudioData& clip = music();
    for (auto _ : state) {
        AudioData out = AudioIO::effect(preset, clip, {});
        benchmark::DoNotOptimize(out.left.data());
    }
    setRealtime(state);
}

// The stretch input: 0.8 of the clip, so that rate 0.8 gives the longest allowed result (8 minutes).
const AudioData& stretchInput() {
    static const AudioData audio = music().slice({0, music().frames() * 4 / 5});
    return audio;
}

// The same first 0.8 of the clip as a WAV file for the peer.
const std::string& stretchWav() {
    static const std::string path = [] {
        const std::string out = wavFile().quoted(wavFile().dir / "stretch-in.wav");
        const std::string seconds = std::to_string(static_cast<double>(stretchInput().frames()) / 48000.0);
        const std::string command = "sox -q " + wavFile().in() + " " + out + " trim 0 " + seconds + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return std::string();
        return out;
    }();
    return path;
}

void TimePitchBench(benchmark::State& state) {
    const AudioData& clip = stretchInput();
    for (auto _ : state) {
        AudioData out = AudioIO::timePitch(clip, 0.8, 0.0);
        benchmark::DoNotOptimize(out.left.data());
    }
    setRealtime(state, clip);
}

// The same stretch of the same samples (time ratio 1.25, R3 engine, channels together, one thread) by the library's
// own command-line program, reading and writing the WAV file.
void RubberBandProgramPeer(benchmark::State& state) {
    const std::string in = bench::smoke() ? std::string() : stretchWav();
    runPeer(state, "rubberband -q -3 --centre-focus --no-threads -t 1.25 " + in + " " + wavFile().out(), stretchInput());
}

void SoxCopyPeer(benchmark::State& state) { runPeer(state, sox("")); }

[[maybe_unused]] const bool registered = [] {
    for (const Case& c : kCases) {
        const std::string name(rawValue(c.preset));
        benchmark::RegisterBenchmark(("UnitGraph/" + name).c_str(), PresetBench, c.preset)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        const std::string effects = c.peer;
        benchmark::RegisterBenchmark(("SoxPeer/" + name).c_str(),
                                     [effects](benchmark::State& s) { runPeer(s, sox(effects)); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("SoxPeer/copy", SoxCopyPeer)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("TimePitch/rate0.8", TimePitchBench)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("RubberBandProgramPeer/rate0.8", RubberBandProgramPeer)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    return true;
}();

}  // namespace
