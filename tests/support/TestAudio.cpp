#include "support/TestAudio.h"

#include <algorithm>
#include <cmath>

#include "model/StudioError.h"
#include "support/TestSignals.h"

namespace tessoral::test {

AudioData constant(std::int64_t frames, float value) {
    const auto n = static_cast<std::size_t>(frames);
    return AudioData(std::vector<float>(n, value), std::vector<float>(n, value));
}

AudioData noise(std::int64_t frames, float amplitude, std::uint64_t seed) {
    SplitMix64 rng(seed);
    const auto n = static_cast<std::size_t>(frames);
    std::vector<float> l(n), r(n);
    for (std::size_t i = 0; i < n; ++i) {
        l[i] = static_cast<float>(rng.uniform() * amplitude);
        r[i] = static_cast<float>(rng.uniform() * amplitude);
    }
    return AudioData(std::move(l), std::move(r));
}

AudioData loudHits(std::int64_t frames) {
    const AudioData base = noise(frames, 0.05f, 11);
    const auto n = static_cast<std::size_t>(frames);
    std::vector<float> l = plus(base.left.toVector(), sine(n, 110.0, 0.1));
    std::vector<float> r = plus(base.right.toVector(), sine(n, 165.0, 0.1, 0.3));
    // A drum-like hit every 100 ms: a full-scale edge and a short decaying burst.
    for (std::size_t at = 2400; at + 480 < n; at += 4800) {
        for (std::size_t i = 0; i < 480; ++i) {
            const float env = std::exp(-static_cast<float>(i) / 60.0f);
            const float v = (i % 7 < 3 ? 1.0f : -1.0f) * env;
            l[at + i] = std::clamp(l[at + i] + v, -1.0f, 1.0f);
            r[at + i] = std::clamp(r[at + i] - v, -1.0f, 1.0f);
        }
    }
    return AudioData(std::move(l), std::move(r));
}

Track clip(const std::string& name, std::int64_t frames, double start) {
    Track t = Track::make(name, constant(frames));
    t.start = start;
    return t;
}

std::string errorMessage(const std::function<void()>& f) { return refusal<StudioError>(f); }

}  // namespace tessoral::test
