#include "support/TestAudio.h"

#include <algorithm>

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
    const AudioData base = noise(frames, 0.2f, 11);
    const auto n = static_cast<std::size_t>(frames);
    std::vector<float> l = plus(base.left.toVector(), sine(n, 440.0, 0.55));
    std::vector<float> r = plus(base.right.toVector(), sine(n, 1250.0, 0.45, 0.3));
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 12000 < 6) {
            l[i] = (i % 2) ? 1.0f : -1.0f;
            r[i] = (i % 3) ? -1.0f : 1.0f;
        }
        l[i] = std::clamp(l[i] * 1.6f, -1.0f, 1.0f);
        r[i] = std::clamp(r[i] * 1.6f, -1.0f, 1.0f);
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
