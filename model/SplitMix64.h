#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessoral {

// The published SplitMix64 generator. Every pseudo-random number of the program (dither,
// generated noise) comes from it with a fixed seed, so every run gives the same samples.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [−1, 1) from the top 53 bits.
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-52 - 1.0; }

private:
    std::uint64_t state_;
};

// White noise uniform in [−amplitude, amplitude) from SplitMix64 with the given seed.
inline std::vector<float> whiteNoise(std::size_t n, std::uint64_t seed, double amplitude = 1.0) {
    SplitMix64 rng(seed);
    std::vector<float> out(n);
    for (auto& v : out) v = static_cast<float>(amplitude * rng.uniform());
    return out;
}

}  // namespace tessoral
