#include "processing/LoudnessKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "processing/EightLanes.h"

namespace tessoral::loudness_kernels {

namespace {

using namespace lanes;

// The largest magnitude of the three interpolated values at each of 8 positions p … p + 7.
[[gnu::always_inline]] inline v8f interpolatedGroup(const float* padded, const float (*k)[kTaps]) {
    v8f a = {}, b = {}, c = {};
    for (int t = 0; t < kTaps; ++t) {
        const v8f x = load(padded + t);
        a += x * k[0][t];
        b += x * k[1][t];
        c += x * k[2][t];
    }
    return maximum(magnitude(a), maximum(magnitude(b), magnitude(c)));
}

[[gnu::always_inline]] inline float peakBody(const float* padded, std::size_t length, const float (*k)[kTaps]) {
    v8f best = {};
    std::size_t p = 0;
    for (; p + kLanes <= length; p += kLanes) best = maximum(best, interpolatedGroup(padded + p, k));
    float result = 0.0f;
    for (std::size_t lane = 0; lane < kLanes; ++lane) result = std::max(result, best[lane]);
    if (p < length) {
        const v8f tail = interpolatedGroup(padded + p, k);
        for (std::size_t lane = 0; p + lane < length; ++lane) result = std::max(result, tail[lane]);
    }
    return result;
}

[[gnu::always_inline]] inline void envelopeBody(const float* padded, std::size_t length, float* out,
                                                const float (*k)[kTaps]) {
    std::size_t p = 0;
    for (; p + kLanes <= length; p += kLanes) {
        const v8f m = maximum(magnitude(load(padded + p + kBefore)), interpolatedGroup(padded + p, k));
        std::memcpy(out + p, &m, sizeof m);
    }
    if (p < length) {
        const v8f m = maximum(magnitude(load(padded + p + kBefore)), interpolatedGroup(padded + p, k));
        for (std::size_t lane = 0; p + lane < length; ++lane) out[p + lane] = m[lane];
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) float peakAVX2(const float* padded, std::size_t length, const float (*k)[kTaps]) {
    return peakBody(padded, length, k);
}
__attribute__((target("avx2"))) void envelopeAVX2(const float* padded, std::size_t length, float* out,
                                                  const float (*k)[kTaps]) {
    envelopeBody(padded, length, out, k);
}
bool hasAVX2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

float peakGeneric(const float* padded, std::size_t length, const float (*k)[kTaps]) {
    return peakBody(padded, length, k);
}
void envelopeGeneric(const float* padded, std::size_t length, float* out, const float (*k)[kTaps]) {
    envelopeBody(padded, length, out, k);
}

const float (*kernelRows())[kTaps] { return reinterpret_cast<const float(*)[kTaps]>(phaseKernels().data()); }

}  // namespace

const std::array<std::array<float, kTaps>, 3>& phaseKernels() {
    // A function-local static is initialised once, thread-safely, on first use.
    static const std::array<std::array<float, kTaps>, 3> kernels = [] {
        std::array<std::array<float, kTaps>, 3> out{};
        const double pi = std::numbers::pi;
        for (int phase = 0; phase < 3; ++phase) {
            const double f = (phase + 1) / 4.0;
            double raw[kTaps];
            double sum = 0.0;
            for (int t = 0; t < kTaps; ++t) {
                const int j = t - kBefore;
                const double u = f - j;  // never 0: f is a proper fraction
                const double sinc = std::sin(pi * u) / (pi * u);
                const double window = 0.42 + 0.5 * std::cos(pi * u / 8.0) + 0.08 * std::cos(pi * u / 4.0);
                raw[t] = sinc * window;
                sum += raw[t];
            }
            for (int t = 0; t < kTaps; ++t) out[phase][t] = static_cast<float>(raw[t] / sum);
        }
        return out;
    }();
    return kernels;
}

BlockWalker::BlockWalker(std::span<const float> samples, std::size_t before, std::size_t after)
    : samples_(samples), before_(before), after_(after) {
    // Zeros after the last block position: the taps reach `after` past it and a group of lanes
    // may run up to kLanes − 1 past the block's end.
    buffer_.resize(std::min(kBlock, samples.size()) + before + after + kLanes, 0.0f);
}

bool BlockWalker::next() {
    const std::size_t n = samples_.size();
    if (started_) start_ += length_;
    started_ = true;
    if (start_ >= n) {
        length_ = 0;
        return false;
    }
    length_ = std::min(kBlock, n - start_);
    // padded[t] = sample at start − before + t, zeros outside the channel.
    std::fill(buffer_.begin(), buffer_.end(), 0.0f);
    const std::size_t first = start_ >= before_ ? start_ - before_ : 0;
    const std::size_t last = std::min(n, start_ + length_ + after_);  // exclusive
    const std::size_t offset = first + before_ - start_;
    std::memcpy(buffer_.data() + offset, samples_.data() + first, (last - first) * sizeof(float));
    return true;
}

float interpolatedPeak(const float* padded, std::size_t length) {
#if defined(__x86_64__)
    if (hasAVX2()) return peakAVX2(padded, length, kernelRows());
#endif
    return peakGeneric(padded, length, kernelRows());
}

void peakEnvelope(const float* padded, std::size_t length, float* out) {
#if defined(__x86_64__)
    if (hasAVX2()) return envelopeAVX2(padded, length, out, kernelRows());
#endif
    envelopeGeneric(padded, length, out, kernelRows());
}

}  // namespace tessoral::loudness_kernels
