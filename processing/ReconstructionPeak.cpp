#include "processing/ReconstructionPeak.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "model/VectorOps.h"
#include "processing/EightLanes.h"
#include "processing/LoudnessKernels.h"

namespace tessoral::reconstruction_peak {

namespace {

using namespace lanes;

constexpr int kBetween = kPhases - 1;  // interpolated values per interval
// Positions whose reach is judged together before they are interpolated.
constexpr std::size_t kChunk = 64;
// The Kaiser window's shape: within 0.2 % of an ideal reconstruction up to 0.48 of the rate.
constexpr double kBeta = 6.0;

struct Kernels {
    float taps[kBetween][kTaps];
    // The largest sum of magnitudes of one kernel's taps: no interpolated value exceeds the
    // largest sample it reads by more than this factor.
    float reach;
};

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

const Kernels& kernels() {
    // A function-local static is initialised once, thread-safely, on first use.
    static const Kernels built = [] {
        Kernels out{};
        const double pi = std::numbers::pi;
        const double half = kTaps / 2.0;
        double reach = 0.0;
        for (int phase = 0; phase < kBetween; ++phase) {
            const double f = (phase + 1) / static_cast<double>(kPhases);
            double raw[kTaps];
            double sum = 0.0;
            for (int t = 0; t < kTaps; ++t) {
                const double u = f - (t - static_cast<int>(kBefore));  // never 0: f is a proper fraction
                const double r = u / half;
                const double window = besselI0(kBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / besselI0(kBeta);
                raw[t] = std::sin(pi * u) / (pi * u) * window;
                sum += raw[t];
            }
            double magnitudes = 0.0;
            for (int t = 0; t < kTaps; ++t) {
                out.taps[phase][t] = static_cast<float>(raw[t] / sum);
                magnitudes += std::fabs(raw[t] / sum);
            }
            reach = std::max(reach, magnitudes);
        }
        // A little over, for the rounding of the single-precision sums.
        out.reach = static_cast<float>(reach * 1.001);
        return out;
    }();
    return built;
}

// The largest magnitude of the sample and the seven interpolated values at each of the 8
// positions p … p + 7. Seven accumulators, one per phase, stay in registers over the taps.
[[gnu::always_inline]] inline v8f group(const float* padded, const Kernels& k) {
    v8f acc[kBetween] = {};
    for (int t = 0; t < kTaps; ++t) {
        const v8f x = load(padded + t);
        for (int phase = 0; phase < kBetween; ++phase) acc[phase] += x * k.taps[phase][t];
    }
    v8f m = magnitude(load(padded + kBefore));
    for (int phase = 0; phase < kBetween; ++phase) m = maximum(m, magnitude(acc[phase]));
    return m;
}

// Whether the positions p … p + count − 1 may interpolate above `level`: the largest sample
// they read times the kernels' reach.
[[gnu::always_inline]] inline bool mayExceed(const float* padded, std::size_t count, float level, const Kernels& k) {
    return vec::maxMagnitude(padded, count + kTaps - 1) * k.reach > level;
}

[[gnu::always_inline]] inline void envelopeBody(const float* padded, std::size_t length, float* out, float floor,
                                                const Kernels& k) {
    for (std::size_t chunk = 0; chunk < length; chunk += kChunk) {
        const std::size_t count = std::min(kChunk, length - chunk);
        if (!mayExceed(padded + chunk, count, floor, k)) continue;
        for (std::size_t p = chunk; p < chunk + count; p += kLanes) {
            const v8f m = group(padded + p, k);
            for (std::size_t lane = 0; lane < kLanes && p + lane < length; ++lane) out[p + lane] = std::max(out[p + lane], m[lane]);
        }
    }
}

[[gnu::always_inline]] inline float peakBody(const float* padded, std::size_t length, float atLeast, const Kernels& k) {
    float best = atLeast;
    for (std::size_t chunk = 0; chunk < length; chunk += kChunk) {
        const std::size_t count = std::min(kChunk, length - chunk);
        if (!mayExceed(padded + chunk, count, best, k)) continue;
        v8f m = {};
        std::size_t p = chunk;
        for (; p + kLanes <= chunk + count; p += kLanes) m = maximum(m, group(padded + p, k));
        for (std::size_t lane = 0; lane < kLanes; ++lane) best = std::max(best, m[lane]);
        if (p < chunk + count) {
            const v8f tail = group(padded + p, k);
            for (std::size_t lane = 0; p + lane < chunk + count; ++lane) best = std::max(best, tail[lane]);
        }
    }
    return best;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void envelopeAVX2(const float* padded, std::size_t length, float* out, float floor,
                                                  const Kernels& k) {
    envelopeBody(padded, length, out, floor, k);
}
__attribute__((target("avx2"))) float peakAVX2(const float* padded, std::size_t length, float atLeast, const Kernels& k) {
    return peakBody(padded, length, atLeast, k);
}
bool hasAVX2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

}  // namespace

// The block as the 4x kernels read it: they reach fewer samples to either side.
const float* truePeakPadded(const float* padded) { return padded + (kBefore - loudness_kernels::kBefore); }

void envelope(const float* padded, std::size_t length, float* out, float floor) {
    loudness_kernels::peakEnvelope(truePeakPadded(padded), length, out);
#if defined(__x86_64__)
    if (hasAVX2()) return envelopeAVX2(padded, length, out, floor, kernels());
#endif
    envelopeBody(padded, length, out, floor, kernels());
}

float blockPeak(const float* padded, std::size_t length, float atLeast) {
    atLeast = std::max(atLeast, loudness_kernels::interpolatedPeak(truePeakPadded(padded), length));
#if defined(__x86_64__)
    if (hasAVX2()) return peakAVX2(padded, length, atLeast, kernels());
#endif
    return peakBody(padded, length, atLeast, kernels());
}

float peakLinear(std::span<const float> samples) {
    float peak = 0.0f;
    loudness_kernels::BlockWalker walker(samples, kBefore, kAfter);
    while (walker.next()) peak = blockPeak(walker.padded(), walker.length(), peak);
    return peak;
}

float peakLinear(const AudioData& audio) {
    const float left = peakLinear(audio.left.span());
    if (audio.right.sharesStorageWith(audio.left)) return left;
    return std::max(left, peakLinear(audio.right.span()));
}

}  // namespace tessoral::reconstruction_peak
