// The noise estimate against a slow double-precision DFT of the expected blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <complex>
#include <numbers>

#include "processing/AdaptiveDenoise.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

constexpr std::size_t kBlock = 2048;
constexpr std::size_t kBins = 1025;

// Hann-windowed magnitudes of one block on the doubled scale (2·|X[k]|).
std::vector<double> blockMagnitudes(const std::vector<float>& x, std::size_t block) {
    std::vector<std::complex<double>> e(kBlock);  // e^(2πii/N)
    std::vector<double> frame(kBlock), out(kBins);
    for (std::size_t i = 0; i < kBlock; ++i) {
        e[i] = std::polar(1.0, 2 * std::numbers::pi * double(i) / kBlock);
        frame[i] = x[block * kBlock + i] * (0.5 - 0.5 * e[i].real());
    }
    for (std::size_t k = 0; k < kBins; ++k) {
        std::complex<double> sum;
        for (std::size_t m = 0; m < kBlock; ++m) sum += frame[m] * e[k * m % kBlock];
        out[k] = 2 * std::abs(sum);
    }
    return out;
}

std::vector<double> averaged(const std::vector<float>& x, const std::vector<std::size_t>& blocks) {
    std::vector<double> sum(kBins, 0.0);
    for (std::size_t b : blocks) {
        const auto m = blockMagnitudes(x, b);
        for (std::size_t k = 0; k < kBins; ++k) sum[k] += m[k];
    }
    for (double& v : sum) v /= double(blocks.size());
    return sum;
}

// Each bin at most twice the upper median of the 33 bins around it.
std::vector<double> spikeLimited(const std::vector<double>& avg) {
    std::vector<double> out(kBins);
    for (std::size_t i = 0; i < kBins; ++i) {
        const std::size_t lo = i >= 16 ? i - 16 : 0, hi = std::min<std::size_t>(i + 16, kBins - 1);
        std::vector<double> w(avg.begin() + long(lo), avg.begin() + long(hi) + 1);
        std::sort(w.begin(), w.end());
        out[i] = std::min(avg[i], 2 * w[w.size() / 2]);
    }
    return out;
}

void expectSpectrum(const std::vector<float>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), kBins);
    double peak = 0;
    for (double v : expected) peak = std::max(peak, v);
    for (std::size_t k = 0; k < kBins; ++k) ASSERT_NEAR(actual[k], expected[k], 1e-4 * peak) << "bin " << k;
}

// Blocks of white noise whose levels are a shuffled ramp; `silent` blocks hold digital silence.
std::vector<float> leveledBlocks(std::size_t count, const std::vector<std::size_t>& silent,
                                 std::vector<double>& levels) {
    test::SplitMix64 rng(42);
    std::vector<float> x(count * kBlock + 1000);  // plus a remainder that must be ignored
    levels.assign(count, 0.0);
    for (std::size_t b = 0; b < count; ++b) {
        if (std::find(silent.begin(), silent.end(), b) != silent.end()) continue;
        levels[b] = 0.01 * double(1 + (b * 5) % count);
        for (std::size_t i = 0; i < kBlock; ++i) x[b * kBlock + i] = static_cast<float>(levels[b] * rng.uniform());
    }
    for (std::size_t i = count * kBlock; i < x.size(); ++i) x[i] = 1e-6f;  // quieter than any block
    return x;
}

std::vector<std::size_t> quietest(const std::vector<double>& levels, std::size_t k) {
    std::vector<std::size_t> order;
    for (std::size_t b = 0; b < levels.size(); ++b)
        if (levels[b] > 0) order.push_back(b);
    std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) { return levels[a] < levels[b]; });
    order.resize(k);
    return order;
}

}  // namespace

TEST(AdaptiveDenoiseTest, ShortOrSilentInputGivesZeros) {
    const std::vector<float> zeros(kBins, 0.0f);
    EXPECT_EQ(AdaptiveDenoise::estimateNoise(std::vector<float>(2047, 0.5f)), zeros);
    EXPECT_EQ(AdaptiveDenoise::estimateNoise(std::vector<float>{}), zeros);
    EXPECT_EQ(AdaptiveDenoise::estimateNoise(std::vector<float>(5 * kBlock, 0.0f)), zeros);
    EXPECT_EQ(AdaptiveDenoise::estimateNoise(std::vector<float>(3 * kBlock, 1e-7f)), zeros);  // energy 1e-14
}

TEST(AdaptiveDenoiseTest, AveragesTheQuietestTenthOfTheNonSilentBlocks) {
    std::vector<double> levels;
    // 22 blocks, 2 of them silent: 20 listed, so the 2 quietest are averaged.
    const auto twenty = leveledBlocks(22, {3, 17}, levels);
    expectSpectrum(AdaptiveDenoise::estimateNoise(twenty), spikeLimited(averaged(twenty, quietest(levels, 2))));
    // 21 listed blocks: the 3 quietest.
    const auto twentyOne = leveledBlocks(21, {}, levels);
    expectSpectrum(AdaptiveDenoise::estimateNoise(twentyOne),
                   spikeLimited(averaged(twentyOne, quietest(levels, 3))));
    // One block: it alone.
    const auto one = leveledBlocks(1, {}, levels);
    expectSpectrum(AdaptiveDenoise::estimateNoise(one), spikeLimited(averaged(one, {0})));
}

TEST(AdaptiveDenoiseTest, NarrowPeakIsCutToTwiceItsLocalMedian) {
    test::SplitMix64 rng(3);
    std::vector<float> x(kBlock + 100);  // one block and an ignored remainder
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.01 * rng.uniform() + 0.5 * std::sin(2 * std::numbers::pi * 200 * double(i) / kBlock));
    const auto avg = averaged(x, {0});
    const auto expected = spikeLimited(avg);
    const auto estimate = AdaptiveDenoise::estimateNoise(x);
    expectSpectrum(estimate, expected);
    EXPECT_LT(estimate[200], 0.01 * avg[200]);  // the tone is cut to the noise floor
    EXPECT_GT(estimate[200], 0.0f);
}

TEST(AdaptiveDenoiseTest, BlocksWithNonFiniteSamplesAreNotListed) {
    std::vector<double> levels;
    auto x = leveledBlocks(10, {}, levels);
    const auto clean = AdaptiveDenoise::estimateNoise(x);
    // A NaN makes its block's energy NaN: it is left out like silence instead of breaking the sort.
    std::vector<float> damaged = x;
    damaged.insert(damaged.begin(), kBlock, 0.0f);
    damaged[5] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(AdaptiveDenoise::estimateNoise(damaged), clean);
}
