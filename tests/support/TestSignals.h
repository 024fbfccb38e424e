#pragma once

// Small signal builders and measurements shared by the tests.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "model/AudioData.h"
#include "model/SplitMix64.h"
#include "model/StudioError.h"

namespace tessoral::test {

// Appends n samples amplitude·sin(2πf·i/rate + phase), i counting on from x.size(), so that
// sections appended one after another continue the same wave.
inline void appendSine(std::vector<float>& x, std::size_t n, double hz, double amplitude = 0.5, double phase = 0.0,
                       double rate = 48000.0) {
    const std::size_t start = x.size();
    x.reserve(start + n);
    for (std::size_t i = start; i < start + n; ++i)
        x.push_back(static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate + phase)));
}

// amplitude·sin(2πf·i/rate + phase) for i = 0 ..< n.
inline std::vector<float> sine(std::size_t n, double hz, double amplitude = 0.5, double phase = 0.0,
                               double rate = 48000.0) {
    std::vector<float> x;
    appendSine(x, n, hz, amplitude, phase, rate);
    return x;
}

// ±1 in runs of `run` samples, starting high.
inline std::vector<float> square(std::size_t n, std::size_t run) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = (i / run) % 2 == 0 ? 1.0f : -1.0f;
    return x;
}

inline std::vector<float> plus(std::vector<float> a, std::span<const float> b) {
    for (std::size_t i = 0; i < a.size(); ++i) a[i] += b[i];
    return a;
}

inline double rms(std::span<const float> x) {
    double s = 0.0;
    for (float v : x) s += static_cast<double>(v) * v;
    return x.empty() ? 0.0 : std::sqrt(s / static_cast<double>(x.size()));
}

inline float peak(std::span<const float> x) {
    float m = 0.0f;
    for (float v : x) m = std::max(m, std::fabs(v));
    return m;
}
inline float peak(const AudioData& a) { return std::max(peak(a.left.span()), peak(a.right.span())); }

inline double maxDifference(std::span<const float> a, std::span<const float> b) {
    double worst = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(double(a[i]) - double(b[i])));
    return worst;
}

inline bool allFinite(const AudioData& a) {
    for (const auto* ch : {&a.left, &a.right})
        for (float v : *ch)
            if (!std::isfinite(v)) return false;
    return true;
}

// The message of the error of type E that f throws; "" when it throws nothing.
template <class E = StudioError, class F>
std::string refusal(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.message();
    }
    return "";
}

// A hits track pushed into a clipper: square bursts of 5 to 20 ms, 0.3 to 0.6 s apart, at 300 to
// 600 Hz, clipped at half scale, and every 28th a stab clipped at full scale; a quiet bed. Brought
// to a target, the bursts meet the limiter, and the encoder's peak jumps by dB between gains.
inline AudioData clippedBursts(double seconds, std::uint64_t seed) {
    const auto n = static_cast<std::size_t>(seconds * 48000.0);
    SplitMix64 rng(seed);
    std::vector<float> l(n), r(n);
    for (std::size_t i = 0; i < n; ++i) l[i] = static_cast<float>(0.003 * rng.uniform()), r[i] = static_cast<float>(0.003 * rng.uniform());
    for (std::size_t at = 1200, k = 0; at + 4800 < n; at += 14400 + rng.next() % 14400, ++k) {
        const double hz = 300.0 + 300.0 * std::fabs(rng.uniform()), top = k % 28 == 27 ? 1.0 : 0.5;
        const std::size_t length = 240 + rng.next() % 720;
        for (std::size_t i = 0; i < length; ++i) {
            const double x = std::clamp(8.0 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / 48000.0), -top, top);
            l[at + i] += static_cast<float>(x);
            r[at + i] += static_cast<float>(0.9 * x);
        }
    }
    return AudioData(std::move(l), std::move(r));
}

// A quiet pad (two tones and noise, about −40 dBFS) with `hits` hits spread over it, one in each
// equal part at a random place in its first half: 40 to 200 ms of a tone (150 to 750 Hz) clipped
// at full scale, the right channel 0.9 of the left.
inline AudioData quietBedHits(double seconds, std::size_t hits, std::uint64_t seed) {
    const auto n = static_cast<std::size_t>(seconds * 48000.0);
    SplitMix64 rng(seed);
    std::vector<float> l(n), r(n);
    const double tau = 2.0 * std::numbers::pi;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 48000.0, pad = 0.01 * (std::sin(tau * 196.0 * t) + std::sin(tau * 294.0 * t));
        l[i] = static_cast<float>(pad + 0.003 * rng.uniform());
        r[i] = static_cast<float>(pad + 0.003 * rng.uniform());
    }
    for (std::size_t k = 0, every = n / hits; k < hits; ++k) {
        const std::size_t at = k * every + rng.next() % std::max<std::size_t>(every / 2, 1);
        const auto length = std::min(n - at, static_cast<std::size_t>(48.0 * (40.0 + 160.0 * std::fabs(rng.uniform()))));
        const double hz = 150.0 + 600.0 * std::fabs(rng.uniform());
        for (std::size_t i = 0; i < length; ++i) {
            const double x = std::clamp(6.0 * std::sin(tau * hz * static_cast<double>(i) / 48000.0) + 0.5 * rng.uniform(), -1.0, 1.0);
            l[at + i] = static_cast<float>(x);
            r[at + i] = static_cast<float>(0.9 * x);
        }
    }
    return AudioData(std::move(l), std::move(r));
}

}  // namespace tessoral::test
