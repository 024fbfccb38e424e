// The de-esser and graphic-equaliser presets on an 8-minute stereo clip, each beside an external
// program doing the same kind of work on the same samples (ffmpeg's deesser filter; sox's
// ten-band equalizer chain), and beside that program's bare copy of the raw samples so the file
// reading and writing in the peer's time can be told apart. The de-esser's kernel also stands
// beside the bare transforms its framing asks for (FFTW alone, no windowing, copies or scaling).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <unistd.h>

#include <algorithm>
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
#include "model/EffectParameters.h"
#include "processing/AudioIOEffect.h"
#include "processing/FFT.h"
#include "processing/SpectralDynamics.h"

using namespace tessoral;

namespace {

// A voice-like tone over noise with a 6.5 kHz sibilant burst every half second.
const AudioData& speech() {
    static const AudioData audio = [] {
        const auto n = static_cast<std::size_t>(bench::frames());
        std::vector<float> l(n), r(n);
        SplitMix64 rng(99);
        auto uniform = [&rng] { return rng.uniform(); };
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / 48000.0;
            double voice = 0.0;
            for (int h = 1; h <= 5; ++h) voice += 0.1 / h * std::sin(2.0 * std::numbers::pi * 150.0 * h * t);
            const double s = (i % 24'000) < 4'800 ? 0.2 * std::sin(2.0 * std::numbers::pi * 6500.0 * t) : 0.0;
            l[i] = static_cast<float>(voice + s + 0.02 * uniform());
            r[i] = static_cast<float>(0.8 * voice + s + 0.02 * uniform());
        }
        return AudioData(std::move(l), std::move(r));
    }();
    return audio;
}

const EffectParams& graphicSettings() {
    static const EffectParams p{{"g0", 6}, {"g1", -4}, {"g2", 3}, {"g3", -2}, {"g4", 5},
                                {"g5", -6}, {"g6", 2}, {"g7", 4}, {"g8", -3}, {"g9", 1}};
    return p;
}

// The clip as raw interleaved 32-bit float samples in a private folder removed at exit.
struct RawFiles {
    bench::ScratchDir dir{"fxbench"};

    RawFiles() { bench::writeRawFloat(dir / "in.raw", speech()); }
    std::string path(const char* name) const { return dir.quoted(name); }
};
const RawFiles& rawFiles() {
    static const RawFiles files;
    return files;
}



void DeEsserPreset8MinStereo(benchmark::State& state) {
    const AudioData& clip = speech();
    for (auto _ : state) {
        AudioData out = AudioIO::effect(EffectPreset::deesser, clip, {});
        benchmark::DoNotOptimize(out.left.data());
    }
    bench::setRealtime(state, clip);
}

// The kernel itself at a low threshold (half the mean band level), where most frames are turned down.
void DeEsserKernelLowThreshold8MinStereo(benchmark::State& state) {
    const AudioData& clip = speech();
    for (auto _ : state) {
        auto l = SpectralDynamics::deessChannel(clip.left.span(), 0.5f, 0.3f, 4000.0);
        auto r = SpectralDynamics::deessChannel(clip.right.span(), 0.5f, 0.3f, 4000.0);
        benchmark::DoNotOptimize(l.data());
        benchmark::DoNotOptimize(r.data());
    }
    bench::setRealtime(state, clip);
}

// The peer: the transforms of the de-esser's framing and nothing else, i.e. two forward and one
// inverse 1024-point real FFT per quarter-frame hop (a frame of silence on each side) over both
// channels, through the engine's transform (FFT::forward and FFT::inverse) on one frame.
void DeEsserTransformsPeer(benchmark::State& state) {
    const AudioData& clip = speech();
    const std::size_t hops = (static_cast<std::size_t>(clip.frames()) + 1024) / 256 + 1;
    for (auto _ : state) {
        for (int channel = 0; channel < 2; ++channel) {
            FFT fft(1024);
            std::vector<float> frame(clip.left.begin() + 48000, clip.left.begin() + 48000 + 1024), re(512), im(512), out(1024);
            for (std::size_t hop = 0; hop < hops; ++hop) {
                fft.forward(frame, re, im);
                fft.forward(frame, re, im);
                fft.inverse(re, im, out);
            }
            benchmark::DoNotOptimize(out.data());
        }
    }
    bench::setRealtime(state, clip);
}

// The same transforms as bare FFTW calls, with plans made as the engine makes them, on aligned
// buffers: the floor under any kernel of this framing.
void DeEsserBareFftwPeer(benchmark::State& state) {
    const AudioData& clip = speech();
    const std::size_t hops = (static_cast<std::size_t>(clip.frames()) + 1024) / 256 + 1;
    float* frame = fftwf_alloc_real(1024);
    float* out = fftwf_alloc_real(1024);
    fftwf_complex* bins = fftwf_alloc_complex(513);
    const fftwf_plan forward = fftwf_plan_dft_r2c_1d(1024, frame, bins, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    const fftwf_plan inverse = fftwf_plan_dft_c2r_1d(1024, bins, out, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
    std::copy(clip.left.begin() + 48000, clip.left.begin() + 48000 + 1024, frame);
    for (auto _ : state) {
        for (int channel = 0; channel < 2; ++channel) {
            for (std::size_t hop = 0; hop < hops; ++hop) {
                fftwf_execute_dft_r2c(forward, frame, bins);
                fftwf_execute_dft_r2c(forward, frame, bins);
                fftwf_execute_dft_c2r(inverse, bins, out);
            }
            benchmark::DoNotOptimize(out);
        }
    }
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(frame);
    fftwf_free(out);
    fftwf_free(bins);
    bench::setRealtime(state, clip);
}

std::string ffmpegRaw(const std::string& filter) {
    const RawFiles& f = rawFiles();
    return "ffmpeg -nostdin -y -loglevel error -f f32le -ar 48000 -ac 2 -i " + f.path("in.raw") + " -af " + filter +
           " -f f32le " + f.path("out.raw");
}

// The peer: ffmpeg's own de-esser filter over the same samples (raw in, raw out).
void FfmpegDeesserPeer(benchmark::State& state) { bench::runPeer(state, ffmpegRaw("deesser")); }
void FfmpegCopyPeer(benchmark::State& state) { bench::runPeer(state, ffmpegRaw("anull")); }

void GraphicEQPreset8MinStereo(benchmark::State& state) {
    const AudioData& clip = speech();
    for (auto _ : state) {
        AudioData out = AudioIO::effect(EffectPreset::graphicEQ, clip, graphicSettings());
        benchmark::DoNotOptimize(out.left.data());
    }
    bench::setRealtime(state, clip);
}

std::string soxRaw(const std::string& effects) {
    const RawFiles& f = rawFiles();
    return "sox -q -t f32 -r 48000 -c 2 " + f.path("in.raw") + " -t f32 " + f.path("out.raw") + effects;
}

// The peer: sox's ten peaking equalizers (biquads) at the same centres, widths and gains.
void SoxEqualizerPeer(benchmark::State& state) {
    std::string effects;
    int i = 0;
    for (const char* f : {"31.5", "63", "125", "250", "500", "1000", "2000", "4000", "8000", "16000"}) {
        std::string key = "g";
        key += std::to_string(i++);
        const double gain = graphicSettings().at(key);
        effects += std::string(" equalizer ") + f + " 1.41q " + std::to_string(static_cast<int>(gain));
    }
    bench::runPeer(state, soxRaw(effects));
}
void SoxRawCopyPeer(benchmark::State& state) { bench::runPeer(state, soxRaw("")); }

}  // namespace

BENCHMARK(DeEsserPreset8MinStereo)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegDeesserPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(DeEsserKernelLowThreshold8MinStereo)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(DeEsserTransformsPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(DeEsserBareFftwPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(FfmpegCopyPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(GraphicEQPreset8MinStereo)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(SoxEqualizerPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
BENCHMARK(SoxRawCopyPeer)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::medianOfRepetitions);
