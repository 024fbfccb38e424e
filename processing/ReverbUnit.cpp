#include "processing/ReverbUnit.h"

#include <algorithm>
#include <cmath>

#include "model/Frames.h"

// The block loops are built twice on x86-64, for AVX2 and for the baseline, the one to run chosen
// when the program loads. Neither contracts a multiply and an add into one rounding (AVX2 alone
// brings no fused multiply-add), so both give the same samples.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_VECTORS
#endif

namespace tessoral {

namespace {

struct PresetShape {
    double size;
    double preDelay;  // s
    double lowDecay;  // T₀, s
    double highDecay; // s
};

PresetShape shape(ReverbUnit::FactoryPreset preset) {
    switch (preset) {
        case ReverbUnit::FactoryPreset::mediumRoom: return {0.6, 0.008, 0.9, 0.35};
        case ReverbUnit::FactoryPreset::largeHall: return {1.2, 0.020, 2.6, 1.0};
        case ReverbUnit::FactoryPreset::cathedral: return {1.8, 0.035, 6.0, 2.4};
    }
    return {0.6, 0.008, 0.9, 0.35};
}

// Line lengths in ms at size 1: spread between 23 and 71 ms, no two with a simple ratio.
constexpr std::array<double, 8> kLineMs = {23.1, 29.9, 35.3, 41.9, 47.7, 55.3, 62.9, 71.3};
constexpr std::array<double, 4> kDiffuserMs = {6.9, 8.3, 11.3, 13.9};
constexpr double kDiffusion = 0.7;
constexpr std::array<double, 8> kLeftSigns = {1, -1, 1, -1, 1, -1, 1, -1};
constexpr std::array<double, 8> kRightSigns = {1, 1, -1, -1, 1, 1, -1, -1};

std::size_t framesOf(double seconds) {
    return static_cast<std::size_t>(std::max<std::int64_t>(1, secondsToFrames(seconds)));
}

}  // namespace

ReverbUnit::ReverbUnit() { loadFactoryPreset(static_cast<int>(FactoryPreset::mediumRoom)); }

void ReverbUnit::loadFactoryPreset(int number) {
    switch (number) {
        case static_cast<int>(FactoryPreset::largeHall): preset_ = FactoryPreset::largeHall; break;
        case static_cast<int>(FactoryPreset::cathedral): preset_ = FactoryPreset::cathedral; break;
        default: preset_ = FactoryPreset::mediumRoom; break;
    }
    const PresetShape s = shape(preset_);
    preDelay_.assign(framesOf(s.preDelay), 0.0f);
    preDelayPosition_ = 0;
    for (std::size_t k = 0; k < diffusers_.size(); ++k) {
        diffusers_[k].buffer.assign(framesOf(kDiffuserMs[k] / 1000.0), 0.0f);
        diffusers_[k].position = 0;
    }
    double energy = 0.0;
    for (std::size_t k = 0; k < lines_.size(); ++k) {
        Line& line = lines_[k];
        const std::size_t d = framesOf(kLineMs[k] / 1000.0 * s.size);
        line.buffer.assign(d, 0.0f);
        line.position = 0;
        line.state = 0.0;
        const double frames = static_cast<double>(d);
        const double g0 = std::pow(10.0, -3.0 * frames / (s.lowDecay * kSampleRate));
        const double gPi = std::pow(10.0, -3.0 * frames / (s.highDecay * kSampleRate));
        line.gain = g0;
        line.pole = (g0 - gPi) / (g0 + gPi);
        energy += g0 * g0;
    }
    // Steady input builds up by about 1 / (1 − g²) in the network.
    wetScale_ = std::sqrt(1.0 - energy / static_cast<double>(lines_.size()));
    block_ = std::min(kBlock, preDelay_.size());
    for (const AllPass& ap : diffusers_) block_ = std::min(block_, ap.buffer.size());
    for (const Line& line : lines_) block_ = std::min(block_, line.buffer.size());
}

void ReverbUnit::setWetDryMix(float percent) {
    if (std::isfinite(percent)) mixPercent_ = percent;
}

// Every delay is at least as long as a block, so nothing a block writes into a delay line is read
// back within the same block: each step below runs over the whole block before the next starts,
// with the same arithmetic per frame, in the same order, as a loop over one frame at a time.
void ReverbUnit::process(float* left, float* right, std::size_t frames) noexcept {
    frames = std::min(frames, kMaxFrames);
    double mono[kBlock];
    for (std::size_t start = 0; start < frames; start += block_) {
        const std::size_t n = std::min(block_, frames - start);
        diffuseBlock(left + start, right + start, mono, n);
        networkBlock(mono, left + start, right + start, n);
    }
}

void ReverbUnit::diffuse(const float* left, const float* right, double* mono, std::size_t frames) noexcept {
    for (std::size_t start = 0; start < frames; start += block_)
        diffuseBlock(left + start, right + start, mono + start, std::min(block_, frames - start));
}

void ReverbUnit::network(const double* mono, float* left, float* right, std::size_t frames) noexcept {
    for (std::size_t start = 0; start < frames; start += block_)
        networkBlock(mono + start, left + start, right + start, std::min(block_, frames - start));
}

namespace {

// Calls body(i, j, count) for the runs of a ring of `length` entries read and written from
// `position` on for n frames: frames i … i + count − 1 use entries j … j + count − 1. Returns the
// position after them.
template <class Body>
std::size_t ringRuns(std::size_t position, std::size_t length, std::size_t n, Body body) {
    for (std::size_t i = 0; i < n;) {
        const std::size_t count = std::min(n - i, length - position);
        body(i, position, count);
        i += count;
        position += count;
        if (position == length) position = 0;
    }
    return position;
}

}  // namespace

WIDE_VECTORS void ReverbUnit::diffuseBlock(const float* left, const float* right, double* x, std::size_t n) noexcept {
    preDelayPosition_ = ringRuns(preDelayPosition_, preDelay_.size(), n, [&](std::size_t i, std::size_t j, std::size_t count) {
        float* ring = preDelay_.data() + j;
        for (std::size_t f = 0; f < count; ++f) {
            x[i + f] = ring[f];
            ring[f] = static_cast<float>(0.5 * (static_cast<double>(left[i + f]) + static_cast<double>(right[i + f])));
        }
    });
    for (AllPass& ap : diffusers_) {
        ap.position = ringRuns(ap.position, ap.buffer.size(), n, [&](std::size_t i, std::size_t j, std::size_t count) {
            float* ring = ap.buffer.data() + j;
            for (std::size_t f = 0; f < count; ++f) {
                const double delayed = ring[f];
                const double y = delayed - kDiffusion * x[i + f];
                ring[f] = static_cast<float>(x[i + f] + kDiffusion * y);
                x[i + f] = y;
            }
        });
    }
}

WIDE_VECTORS void ReverbUnit::networkBlock(const double* x, float* left, float* right, std::size_t n) noexcept {
    const double mix = clampTo(static_cast<double>(mixPercent_) / 100.0, 0.0, 1.0);
    const double dry = 1.0 - mix;
    const double wet = mix * wetScale_;
    float delayed[8][kBlock], fed[8][kBlock];
    double v[8][kBlock];
    for (std::size_t k = 0; k < 8; ++k) {
        const Line& line = lines_[k];
        ringRuns(line.position, line.buffer.size(), n, [&](std::size_t i, std::size_t j, std::size_t count) {
            std::copy_n(line.buffer.data() + j, count, delayed[k] + i);
        });
    }
    // The eight low-passes side by side, each its own recursion over the block.
    double state[8], feed[8], pole[8];
    for (std::size_t k = 0; k < 8; ++k) {
        state[k] = lines_[k].state;
        feed[k] = lines_[k].gain * (1.0 - lines_[k].pole);
        pole[k] = lines_[k].pole;
    }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < 8; ++k) {
            state[k] = feed[k] * static_cast<double>(delayed[k][i]) + pole[k] * state[k];
            v[k][i] = state[k];
        }
    for (std::size_t k = 0; k < 8; ++k) lines_[k].state = state[k];

    constexpr double scale = 0.35355339059327373;  // 1/√8
    for (std::size_t i = 0; i < n; ++i) {
        double l = 0.0, r = 0.0, a[8];
#pragma GCC unroll 8
        for (std::size_t k = 0; k < 8; ++k) {
            const double d = delayed[k][i];
            l += kLeftSigns[k] * d;
            r += kRightSigns[k] * d;
            a[k] = v[k][i];
        }
        // The Hadamard transform of the eight low-pass outputs, scaled by 1/√8.
        auto butterfly = [&a](std::size_t j, std::size_t h) {
            const double p = a[j], q = a[j + h];
            a[j] = p + q;
            a[j + h] = p - q;
        };
        butterfly(0, 1), butterfly(2, 1), butterfly(4, 1), butterfly(6, 1);
        butterfly(0, 2), butterfly(1, 2), butterfly(4, 2), butterfly(5, 2);
        butterfly(0, 4), butterfly(1, 4), butterfly(2, 4), butterfly(3, 4);
        const double injected = x[i] * scale;
#pragma GCC unroll 8
        for (std::size_t k = 0; k < 8; ++k)
            fed[k][i] = static_cast<float>(a[k] * scale + kLeftSigns[k] * kRightSigns[k] * injected);
        const double xl = left[i], xr = right[i];
        left[i] = static_cast<float>(dry * xl + wet * l);
        right[i] = static_cast<float>(dry * xr + wet * r);
    }
    for (std::size_t k = 0; k < 8; ++k) {
        Line& line = lines_[k];
        line.position = ringRuns(line.position, line.buffer.size(), n, [&](std::size_t i, std::size_t j, std::size_t count) {
            std::copy_n(fed[k] + i, count, line.buffer.data() + j);
        });
    }
}

}  // namespace tessoral
