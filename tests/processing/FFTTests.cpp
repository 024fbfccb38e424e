// The real FFT's packed layout, scale and round trip, against a double-precision DFT.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <thread>
#include <vector>

#include "processing/FFT.h"
#include "processing/SpectralTestSupport.h"

using namespace tessoral;
using tessoral::spectraltest::whiteNoise;

namespace {

// The unnormalised DFT X[k] = Σ x[m]·e^(−2πikm/n) for k = 0 … n/2, in double precision.
std::vector<std::complex<double>> naiveDFT(const std::vector<float>& x) {
    const std::size_t n = x.size();
    std::vector<std::complex<double>> out(n / 2 + 1);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        std::complex<double> sum = 0.0;
        for (std::size_t m = 0; m < n; ++m) {
            const double angle = -2.0 * std::numbers::pi * static_cast<double>((k * m) % n) / static_cast<double>(n);
            sum += static_cast<double>(x[m]) * std::complex<double>(std::cos(angle), std::sin(angle));
        }
        out[k] = sum;
    }
    return out;
}

double relativeError(const std::vector<float>& a, const std::vector<float>& b) {
    double diff = 0.0, ref = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
        ref += static_cast<double>(b[i]) * b[i];
    }
    return std::sqrt(diff / ref);
}

}  // namespace


TEST(FFT, ForwardThenInverseReturnsTheInput) {
    for (int n : {1024, 2048, 4096, 8192}) {
        FFT fft(n);
        const auto x = whiteNoise(static_cast<std::size_t>(n), 7 + static_cast<std::uint64_t>(n));
        std::vector<float> re(static_cast<std::size_t>(n / 2)), im(re.size()), back(x.size());
        fft.forward(x, re, im);
        fft.inverse(re, im, back);
        EXPECT_LT(relativeError(back, x), 1e-6) << "n = " << n;
    }
}

TEST(FFT, PackedSpectrumIsTwiceTheDFT) {
    for (int n : {1024, 4096}) {
        FFT fft(n);
        const int half = n / 2;
        const auto x = whiteNoise(static_cast<std::size_t>(n), 99);
        std::vector<float> re(static_cast<std::size_t>(half)), im(re.size());
        fft.forward(x, re, im);
        const auto X = naiveDFT(x);
        // White noise of unit peak: |X| is about sqrt(n/3); allow float rounding of an n-point sum.
        const double tolerance = 1e-5 * n;
        EXPECT_NEAR(re[0], 2.0 * X[0].real(), tolerance);
        EXPECT_NEAR(im[0], 2.0 * X[static_cast<std::size_t>(half)].real(), tolerance);
        double worst = 0.0;
        for (std::size_t k = 1; k < std::size_t(half); ++k)
            worst = std::max(worst, std::abs(std::complex<double>(re[k], im[k]) - 2.0 * X[k]));
        EXPECT_LT(worst, tolerance) << "n = " << n;

        const auto mags = fft.magnitudes(re, im);
        ASSERT_EQ(mags.size(), X.size());
        for (std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{17}, X.size() - 2, X.size() - 1})
            EXPECT_NEAR(mags[k], 2.0 * std::abs(X[k]), tolerance) << "bin " << k;
    }
}

TEST(FFT, WrongSizesAreRefused) {
    for (int n : {1000, 0, -1024}) EXPECT_THROW(FFT{n}, std::invalid_argument) << n;
    FFT fft(1024);
    std::vector<float> x(1024), re(512), im(512), shortIm(511), mags(512);
    EXPECT_THROW(fft.forward(std::vector<float>(1023), re, im), std::invalid_argument);
    EXPECT_THROW(fft.forward(x, re, shortIm), std::invalid_argument);
    EXPECT_THROW(fft.inverse(re, im, std::span<float>(x.data(), 1000)), std::invalid_argument);
    EXPECT_THROW(fft.magnitudes(re, im, mags), std::invalid_argument);
}

TEST(FFT, HannWindow) {
    EXPECT_EQ(FFT::hann(4), (std::vector<float>{0.0f, 0.5f, 1.0f, 0.5f}));
    EXPECT_TRUE(FFT::hann(0).empty());
    EXPECT_TRUE(FFT::hann(-3).empty());
}

TEST(FFT, UnalignedBuffersGiveTheSameResult) {
    const int n = 1024;
    FFT fft(n);
    const auto x = whiteNoise(n + 1, 5);
    std::vector<float> aligned(x.begin(), x.begin() + n);
    std::vector<float> re1(n / 2), im1(n / 2), re2(n / 2), im2(n / 2);
    fft.forward(aligned, re1, im1);
    std::vector<float> shifted(static_cast<std::size_t>(n) + 1);
    std::copy(aligned.begin(), aligned.end(), shifted.begin() + 1);
    fft.forward(std::span<const float>(shifted.data() + 1, n), re2, im2);
    EXPECT_EQ(re1, re2);
    EXPECT_EQ(im1, im2);

    std::vector<float> out1(n), out2(static_cast<std::size_t>(n) + 1);
    fft.inverse(re1, im1, out1);
    fft.inverse(re1, im1, std::span<float>(out2.data() + 1, n));
    EXPECT_TRUE(std::equal(out1.begin(), out1.end(), out2.begin() + 1));
}

TEST(FFT, ConcurrentTransformsMatchOneThread) {
    // Every thread creates its own instances (planning sizes for the first time concurrently) and
    // transforms at the same time; the results must be those of a lone thread.
    const std::vector<int> sizes = {256, 512, 1024, 2048, 4096, 8192};
    auto work = [&](std::uint64_t seed) {
        std::vector<float> result;
        for (int round = 0; round < 4; ++round) {
            for (int n : sizes) {
                FFT fft(n);
                const auto x = whiteNoise(static_cast<std::size_t>(n), seed * 31 + static_cast<std::uint64_t>(n));
                std::vector<float> re(static_cast<std::size_t>(n / 2)), im(re.size()), back(x.size());
                fft.forward(x, re, im);
                fft.inverse(re, im, back);
                result.insert(result.end(), re.begin(), re.end());
                result.insert(result.end(), im.begin(), im.end());
                result.insert(result.end(), back.begin(), back.end());
            }
        }
        return result;
    };
    std::vector<std::vector<float>> concurrent(8);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < concurrent.size(); ++t) threads.emplace_back([&, t] { concurrent[t] = work(t % 3); });
    for (auto& th : threads) th.join();
    for (std::size_t t = 0; t < concurrent.size(); ++t) EXPECT_EQ(concurrent[t], work(t % 3)) << "thread " << t;
}
