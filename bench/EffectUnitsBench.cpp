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
    bench::ScratchDir dir{"unitbench"};
    std::filesystem::path path = dir / "in.wav";

    WavFile() { bench::writeFloatWav(path, music()); }
    std::string in() const { return dir.quoted("in.wav"); }
    std::string out() const { return dir.quoted("out.wav"); }
};
const WavFile& wavFile() {
    static const WavFile f;
    return f;
}

// Seconds of input processed per second.
void setRealtime(benchmark::State& state, const AudioData& input = music()) { bench::setRealtime(state, input); }
void runPeer(benchmark::State& state, const std::string& command, const AudioData& input = music()) {
    bench::runPeer(state, command);
    if (!bench::smoke()) setRealtime(state, input);
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
        const std::string out = wavFile().dir.quoted("stretch-in.wav");
        const std::string seconds = std::to_string(static_cast<double>(stretchInput().frames()) / 48000.0);
        if (!bench::runQuiet("sox -q " + wavFile().in() + " " + out + " trim 0 " + seconds)) return std::string();
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
    // Wall time in milliseconds, the median of repetitions (the peers write files).
    auto timed = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
    };
    for (const Case& c : kCases) {
        const std::string name(rawValue(c.preset));
        timed(benchmark::RegisterBenchmark(("UnitGraph/" + name).c_str(), PresetBench, c.preset));
        const std::string effects = c.peer;
        timed(benchmark::RegisterBenchmark(("SoxPeer/" + name).c_str(),
                                           [effects](benchmark::State& s) { runPeer(s, sox(effects)); }));
    }
    timed(benchmark::RegisterBenchmark("SoxPeer/copy", SoxCopyPeer));
    timed(benchmark::RegisterBenchmark("TimePitch/rate0.8", TimePitchBench));
    timed(benchmark::RegisterBenchmark("RubberBandProgramPeer/rate0.8", RubberBandProgramPeer));
    return true;
}();

}  // namespace
