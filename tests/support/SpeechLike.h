#pragma once

// Speech-like material for click-repair tests and benchmarks: voiced syllables (a glottal pulse
// train with a drifting pitch through three formant resonators), stops (a sharp release burst,
// which the click detector may flag although it is speech), fricatives (shaped noise) and pauses,
// at any rate; and the damage a worn record or a bad cable adds to it.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "model/SplitMix64.h"

namespace tessoral::test {

namespace speech_detail {

// A two-pole resonator at `hz` with bandwidth `bw`, unit gain at DC removed by the caller's mix.
struct Resonator {
    double a1 = 0, a2 = 0, g = 0, y1 = 0, y2 = 0;
    void tune(double hz, double bw, double rate) {
        const double r = std::exp(-std::numbers::pi * bw / rate);
        a1 = 2.0 * r * std::cos(2.0 * std::numbers::pi * hz / rate);
        a2 = -r * r;
        g = 1.0 - r;
    }
    double operator()(double x) {
        const double y = g * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

inline double uniform(SplitMix64& rng) { return static_cast<double>(rng.next() >> 11) * (1.0 / 9007199254740992.0); }

}  // namespace speech_detail

// About `seconds` of mono speech-like sound at `rate` Hz, peak about 0.6, made from `seed`.
inline std::vector<float> speechLike(double rate, double seconds, std::uint64_t seed = 11) {
    using namespace speech_detail;
    SplitMix64 rng(seed);
    const auto total = static_cast<std::size_t>(seconds * rate);
    std::vector<double> out;
    out.reserve(total);
    // Vowel formants (F1, F2, F3) in Hz.
    constexpr double vowels[5][3] = {{730, 1090, 2440}, {270, 2290, 3010}, {530, 1840, 2480}, {570, 840, 2410}, {300, 870, 2240}};
    double phase = 0.0;
    double pitch = 120.0 + 60.0 * uniform(rng);
    Resonator f1, f2, f3;
    double hp = 0.0, hpIn = 0.0;
    while (out.size() < total) {
        const int kind = static_cast<int>(uniform(rng) * 10.0);
        if (kind < 6) {
            // A voiced syllable of 120 … 300 ms gliding from one vowel to another.
            const auto n = static_cast<std::size_t>((0.12 + 0.18 * uniform(rng)) * rate);
            const auto* from = vowels[static_cast<int>(uniform(rng) * 5.0) % 5];
            const auto* to = vowels[static_cast<int>(uniform(rng) * 5.0) % 5];
            const double level = 0.5 + 0.5 * uniform(rng);
            const double glide = (uniform(rng) - 0.5) * 60.0;
            for (std::size_t i = 0; i < n; ++i) {
                const double t = static_cast<double>(i) / static_cast<double>(n);
                if (i % 64 == 0) {
                    f1.tune(from[0] + (to[0] - from[0]) * t, 80.0, rate);
                    f2.tune(from[1] + (to[1] - from[1]) * t, 100.0, rate);
                    f3.tune(from[2] + (to[2] - from[2]) * t, 140.0, rate);
                }
                const double f0 = std::clamp(pitch + glide * t + 3.0 * std::sin(2.0 * std::numbers::pi * 5.0 * t), 80.0, 260.0);
                phase += f0 / rate;
                if (phase >= 1.0) phase -= 1.0;
                // Rosenberg glottal flow derivative: open phase 60 %, closing 25 % of the period.
                double g = 0.0;
                if (phase < 0.6) g = std::sin(std::numbers::pi * phase / 0.6) * 0.5;
                else if (phase < 0.85) g = -std::sin(std::numbers::pi * 0.5 * (phase - 0.6) / 0.25);
                const double env = std::min({1.0, t * 12.0, (1.0 - t) * 8.0});
                const double v = f1(g) * 1.0 + f2(g) * 0.6 + f3(g) * 0.3;
                out.push_back(level * env * v);
            }
            pitch = std::clamp(pitch + glide, 90.0, 220.0);
        } else if (kind < 7) {
            // A stop: 20 … 50 ms of closure, then a release burst with a sharp onset that decays
            // in a few milliseconds (the detector may well take it for a click; it is speech).
            const auto closure = static_cast<std::size_t>((0.02 + 0.03 * uniform(rng)) * rate);
            for (std::size_t i = 0; i < closure; ++i) out.push_back(0.0008 * (uniform(rng) * 2.0 - 1.0));
            const auto n = static_cast<std::size_t>(0.015 * rate);
            const double level = 0.15 + 0.2 * uniform(rng);
            const double decay = 0.003 * rate;
            for (std::size_t i = 0; i < n; ++i) {
                const double w = uniform(rng) * 2.0 - 1.0;
                out.push_back(level * std::exp(-static_cast<double>(i) / decay) * (i == 0 ? 1.0 : w));
            }
        } else if (kind < 8) {
            // A fricative of 60 … 140 ms: high-passed noise.
            const auto n = static_cast<std::size_t>((0.06 + 0.08 * uniform(rng)) * rate);
            const double level = 0.05 + 0.08 * uniform(rng);
            for (std::size_t i = 0; i < n; ++i) {
                const double t = static_cast<double>(i) / static_cast<double>(n);
                const double w = uniform(rng) * 2.0 - 1.0;
                hp = 0.7 * hp + w - hpIn;
                hpIn = w;
                out.push_back(level * std::min({1.0, t * 6.0, (1.0 - t) * 6.0}) * hp);
            }
        } else {
            // A pause of 40 … 160 ms with faint room noise.
            const auto n = static_cast<std::size_t>((0.04 + 0.12 * uniform(rng)) * rate);
            for (std::size_t i = 0; i < n; ++i) out.push_back(0.0008 * (uniform(rng) * 2.0 - 1.0));
        }
    }
    out.resize(total);
    double peak = 0.0;
    for (double v : out) peak = std::max(peak, std::fabs(v));
    std::vector<float> samples(total);
    for (std::size_t i = 0; i < total; ++i) samples[i] = static_cast<float>(peak > 0.0 ? 0.6 * out[i] / peak : 0.0);
    return samples;
}

// One defect added to the material: a short click or a crackle of alternating full-scale samples.
struct Damage {
    std::size_t at = 0;      // first sample
    std::size_t length = 0;  // samples
    bool crackle = false;
};

// Five 4-sample clicks and two crackles of 1 ms, spread over the material (at least 4 s at `rate`),
// each inside a voiced stretch: the first place after its nominal position where the 10 ms
// around it are loud.
inline std::vector<Damage> clicksAndCrackles(double rate, const std::vector<float>& material) {
    const double n = static_cast<double>(material.size());
    const auto half = static_cast<std::size_t>(rate * 0.005);
    auto voiced = [&](std::size_t at) {
        double sum = 0.0;
        for (std::size_t i = at - half; i < at + half; ++i) sum += static_cast<double>(material[i]) * material[i];
        return std::sqrt(sum / static_cast<double>(2 * half)) > 0.1;
    };
    auto place = [&](double fraction) {
        auto at = static_cast<std::size_t>(fraction * n);
        while (at + 2 * half < material.size() && !voiced(at)) at += half / 4;
        return at;
    };
    std::vector<Damage> list;
    std::size_t earliest = 0;
    const auto crackle = static_cast<std::size_t>(rate / 1000.0);
    for (double f : {0.05, 0.16, 0.27, 0.38, 0.49, 0.6, 0.71}) {
        const bool isCrackle = f == 0.38 || f == 0.6;
        const std::size_t at = place(std::max(f, static_cast<double>(earliest) / n));
        list.push_back({at, isCrackle ? crackle : 4, isCrackle});
        earliest = at + static_cast<std::size_t>(rate * 0.03);
    }
    return list;
}

// The material with the damage written over it.
inline std::vector<float> damaged(std::vector<float> x, const std::vector<Damage>& damage) {
    constexpr float click[4] = {0.85f, -0.6f, 0.7f, -0.35f};
    for (const Damage& d : damage) {
        for (std::size_t i = 0; i < d.length && d.at + i < x.size(); ++i) {
            if (d.crackle) x[d.at + i] = (i % 2 == 0) ? 1.0f : -1.0f;
            else x[d.at + i] += click[i % 4];
        }
    }
    return x;
}

}  // namespace tessoral::test
