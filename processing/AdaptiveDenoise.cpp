#include "processing/AdaptiveDenoise.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "processing/FFT.h"

namespace tessoral::AdaptiveDenoise {

namespace {

constexpr std::size_t kBlock = 2048;
constexpr std::size_t kBins = kBlock / 2 + 1;
constexpr std::size_t kMedianReach = 16;

}  // namespace

std::vector<float> estimateNoise(std::span<const float> samples) {
    std::vector<float> result(kBins, 0.0f);
    const std::size_t blocks = samples.size() / kBlock;
    if (blocks == 0) return result;

    // Block energies (mean square); digital silence is skipped.
    std::vector<std::pair<std::size_t, float>> listed;
    for (std::size_t b = 0; b < blocks; ++b) {
        const float* x = samples.data() + b * kBlock;
        float sum = 0.0f;
        for (std::size_t i = 0; i < kBlock; ++i) sum += x[i] * x[i];
        const float energy = sum / static_cast<float>(kBlock);
        if (energy > 1e-12f) listed.emplace_back(b, energy);
    }
    if (listed.empty()) return result;
    std::stable_sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    const std::size_t k = std::max<std::size_t>((listed.size() + 9) / 10, 1);

    // Average magnitude spectrum of the k quietest blocks.
    FFT fft(static_cast<int>(kBlock));
    const std::vector<float> window = FFT::hann(static_cast<int>(kBlock));
    std::vector<float> frame(kBlock), real(kBlock / 2), imag(kBlock / 2), mags(kBins);
    std::vector<float> average(kBins, 0.0f);
    for (std::size_t j = 0; j < k; ++j) {
        const float* x = samples.data() + listed[j].first * kBlock;
        for (std::size_t i = 0; i < kBlock; ++i) frame[i] = x[i] * window[i];
        fft.forward(frame, real, imag);
        fft.magnitudes(real, imag, mags);
        for (std::size_t i = 0; i < kBins; ++i) average[i] += mags[i];
    }
    const float scale = 1.0f / static_cast<float>(k);
    for (float& v : average) v *= scale;

    // Spike limit: each bin at most twice the median of the 33 bins around it.
    std::vector<float> neighbours;
    neighbours.reserve(2 * kMedianReach + 1);
    for (std::size_t i = 0; i < kBins; ++i) {
        const std::size_t lo = i > kMedianReach ? i - kMedianReach : 0;
        const std::size_t hi = std::min(i + kMedianReach, kBins - 1);
        neighbours.assign(average.begin() + static_cast<std::ptrdiff_t>(lo),
                          average.begin() + static_cast<std::ptrdiff_t>(hi) + 1);
        const auto middle = neighbours.begin() + static_cast<std::ptrdiff_t>(neighbours.size() / 2);
        std::nth_element(neighbours.begin(), middle, neighbours.end());
        result[i] = std::min(average[i], 2.0f * *middle);
    }
    return result;
}

}  // namespace tessoral::AdaptiveDenoise

