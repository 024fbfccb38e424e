// Noise print learning and the spectral gate.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <thread>
#include <vector>

#include "processing/NoiseReduction.h"
#include "processing/SpectralTestSupport.h"
#include "support/TestSignals.h"

using namespace tessoral;
using namespace tessoral::spectraltest;

using test::maxDifference;

namespace {

// 2·|DFT| of one Hann-windowed 2048-sample frame at bin k, in double precision.
double frameMagnitude(std::span<const float> x, std::size_t offset, int k) {
    return amplitudeAt(x, k * 48000.0 / 2048.0, offset, 2048) * 1024.0;
}

}  // namespace

TEST(NoiseReduction, AverageSpectrumFramesAndShortInput) {
    EXPECT_EQ(NoiseReduction::averageSpectrum(whiteNoise(2047, 3)), std::vector<float>(1025, 0.0f));
    EXPECT_EQ(NoiseReduction::averageSpectrum({}), std::vector<float>(1025, 0.0f));

    // Exactly one frame: its own magnitudes.
    const auto one = whiteNoise(2048, 4, 0.5);
    const auto single = NoiseReduction::averageSpectrum(one);
    ASSERT_EQ(single.size(), 1025u);
    for (int k : {0, 1, 100, 511, 1023, 1024}) EXPECT_NEAR(single[k], frameMagnitude(one, 0, k), 1e-3) << "bin " << k;

    // 2048 + 1023 samples hold frames at 0 and 512 only (no padding, no partial frame).
    const auto three = whiteNoise(2048 + 1023, 5, 0.5);
    const auto mean = NoiseReduction::averageSpectrum(three);
    for (int k : {0, 7, 300, 1024}) {
        const double expected = (frameMagnitude(three, 0, k) + frameMagnitude(three, 512, k)) / 2.0;
        EXPECT_NEAR(mean[k], expected, 1e-3) << "bin " << k;
    }
}

TEST(NoiseReduction, ZeroOrShortPrintLeavesTheSignal) {
    const std::vector<float> zeroPrint(1025, 0.0f);
    for (std::size_t n : {std::size_t{1}, std::size_t{100}, std::size_t{2048}, std::size_t{48000}}) {
        const auto x = whiteNoise(n, 11, 0.8);
        const auto y = NoiseReduction::process(x, zeroPrint, 0.8f);
        ASSERT_EQ(y.size(), n);
        EXPECT_LT(maxDifference(x, y), 1e-5) << "n = " << n;
    }
    EXPECT_TRUE(NoiseReduction::process({}, zeroPrint, 0.5f).empty());
    // A print of fewer than 1025 values cannot be compared bin by bin: the samples come back as they were.
    const auto x = whiteNoise(5000, 12, 0.5);
    EXPECT_EQ(NoiseReduction::process(x, std::vector<float>(1024, 100.0f), 1.0f), x);
}

TEST(NoiseReduction, StrengthIsClamped) {
    const auto noise = whiteNoise(20000, 21, 0.1);
    const auto print = NoiseReduction::averageSpectrum(noise);
    auto x = whiteNoise(12000, 22, 0.1);
    addSine(x, 1000.0, 0.2);
    const auto at0 = NoiseReduction::process(x, print, 0.0f);
    EXPECT_EQ(at0, NoiseReduction::process(x, print, 0.05f));
    EXPECT_EQ(NoiseReduction::process(x, print, -3.0f), at0);
    const auto at1 = NoiseReduction::process(x, print, 1.0f);
    EXPECT_EQ(NoiseReduction::process(x, print, 2.0f), at1);
    EXPECT_EQ(NoiseReduction::process(x, print, std::numeric_limits<float>::quiet_NaN()), at1);
    EXPECT_NE(at0, at1);
}

TEST(NoiseReduction, LowersTheNoiseFloorAndKeepsTheTone) {
    // A 220 Hz tone with eight equal partials over white noise (about 25 dB below it); the print is
    // learnt from a separate stretch of the noise alone.
    const std::size_t n = 4 * 48000;
    const double f0 = 220.0;
    const auto print = NoiseReduction::averageSpectrum(whiteNoise(2 * 48000, 31, 0.02));
    auto x = whiteNoise(n, 32, 0.02);
    for (int h = 1; h <= 8; ++h) addSine(x, f0 * h, 0.1);
    const auto y = NoiseReduction::process(x, print, 0.8f);
    ASSERT_EQ(y.size(), n);

    // Measured in 9600-sample windows (whole periods of every partial) away from the ends.
    double toneIn = 0.0, toneOut = 0.0, floorIn = 0.0, floorOut = 0.0;
    int windows = 0;
    for (std::size_t from = 24000; from + 9600 <= n - 24000; from += 19200, ++windows) {
        for (int h = 1; h <= 8; ++h) {
            const double a = amplitudeAt(x, f0 * h, from, 9600);
            const double b = amplitudeAt(y, f0 * h, from, 9600);
            toneIn += a * a;
            toneOut += b * b;
            // Single partials may lose a little more where the gate's smoothing meets the window's
            // main lobe, but never much.
            EXPECT_LT(std::fabs(dB(b / a)), 1.5) << "partial " << h << " at " << from;
            for (double between : {0.25, 0.5, 0.75}) {
                floorIn += std::pow(amplitudeAt(x, f0 * (h + between), from, 9600), 2);
                floorOut += std::pow(amplitudeAt(y, f0 * (h + between), from, 9600), 2);
            }
        }
    }
    ASSERT_GE(windows, 5);
    EXPECT_LT(std::fabs(10.0 * std::log10(toneOut / toneIn)), 1.0);
    EXPECT_GT(10.0 * std::log10(floorIn / floorOut), 10.0);
}

TEST(NoiseReduction, ConcurrentCallsMatchOneCall) {
    const auto print = NoiseReduction::averageSpectrum(whiteNoise(8192, 51, 0.1));
    auto x = whiteNoise(30000, 52, 0.1);
    addSine(x, 700.0, 0.3);
    const auto expected = NoiseReduction::process(x, print, 0.6f);
    std::vector<std::vector<float>> results(6);
    std::vector<std::thread> threads;
    for (auto& r : results) threads.emplace_back([&] { r = NoiseReduction::process(x, print, 0.6f); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, expected);
}

namespace {

struct NoiseReductionApply : ::testing::Test {
    // Noise in both channels (different in each) and its own print, so the gate changes a lot.
    static constexpr std::int64_t kFrames = 20000;
    AudioData audio{whiteNoise(kFrames, 41, 0.3), whiteNoise(kFrames, 42, 0.3)};
    NoiseProfile profile{NoiseReduction::averageSpectrum(audio.left.span()),
                         NoiseReduction::averageSpectrum(audio.right.span())};

    // What the gate makes of frame i of one channel when the range is lo ..< hi.
    std::vector<float> gated(const SharedArray<float>& channel, const std::vector<float>& print, std::int64_t lo,
                             std::int64_t hi) const {
        const std::int64_t from = std::max<std::int64_t>(lo - 2048, 0);
        const std::int64_t to = std::min<std::int64_t>(hi + 2048, kFrames);
        auto part = NoiseReduction::process(channel.span().subspan(from, to - from), print, 0.9f);
        return std::vector<float>(part.begin() + (lo - from), part.begin() + (hi - from));
    }

    void expectOutsideUnchanged(const AudioData& out, std::int64_t lo, std::int64_t hi) const {
        for (std::int64_t i = 0; i < kFrames; ++i) {
            if (i >= lo && i < hi) continue;
            ASSERT_EQ(out.left[i], audio.left[i]) << i;
            ASSERT_EQ(out.right[i], audio.right[i]) << i;
        }
    }
};

}  // namespace

TEST_F(NoiseReductionApply, RefusedRangesReturnTheAudio) {
    for (FrameRange r : {FrameRange{500, 500}, FrameRange{-1, 400}, FrameRange{100, kFrames + 1}, FrameRange{600, 300},
                         FrameRange{kFrames, kFrames}}) {
        const AudioData out = NoiseReduction::apply(profile, audio, r, 0.9);
        EXPECT_TRUE(out.left.sharesStorageWith(audio.left)) << r.lower << "..<" << r.upper;
        EXPECT_EQ(out, audio);
    }
}

TEST_F(NoiseReductionApply, InnerRangeFadesOver256Frames) {
    const std::int64_t lo = 6000, hi = 8000;
    const AudioData out = NoiseReduction::apply(profile, audio, {lo, hi}, 0.9);
    expectOutsideUnchanged(out, lo, hi);
    for (int ch = 0; ch < 2; ++ch) {
        const auto& in = ch == 0 ? audio.left : audio.right;
        const auto& result = ch == 0 ? out.left : out.right;
        const auto wet = gated(in, ch == 0 ? profile.left : profile.right, lo, hi);
        const std::int64_t len = hi - lo;
        for (std::int64_t i = 0; i < len; ++i) {
            double t = 1.0;
            if (i < 256) t = i / 256.0;
            if (i >= len - 256) t = (len - 1 - i) / 256.0;
            const double expected = t * wet[i] + (1.0 - t) * in[lo + i];
            ASSERT_NEAR(result[lo + i], expected, 1e-6) << "channel " << ch << " frame " << i;
        }
        // The gate really acts in the middle, so the fades above are not vacuous.
        EXPECT_GT(std::fabs(result[lo + 1000] - in[lo + 1000]), 1e-3);
    }
}

TEST_F(NoiseReductionApply, RangesAtTheEdgesAndTinyRangesHaveNoFades) {
    // From frame 0: no fade-in; up to the end: no fade-out.
    const AudioData start = NoiseReduction::apply(profile, audio, {0, 3000}, 0.9);
    const auto startWet = gated(audio.left, profile.left, 0, 3000);
    EXPECT_FLOAT_EQ(start.left[0], startWet[0]);
    EXPECT_FLOAT_EQ(start.left[100], startWet[100]);
    EXPECT_FLOAT_EQ(start.left[2999], audio.left[2999]);  // fade-out ends on the dry sample
    expectOutsideUnchanged(start, 0, 3000);
    const AudioData end = NoiseReduction::apply(profile, audio, {kFrames - 3000, kFrames}, 0.9);
    const auto endWet = gated(audio.right, profile.right, kFrames - 3000, kFrames);
    EXPECT_FLOAT_EQ(end.right[kFrames - 3000], audio.right[kFrames - 3000]);  // fade-in starts dry
    EXPECT_FLOAT_EQ(end.right[kFrames - 1], endWet[2999]);
    EXPECT_FLOAT_EQ(end.right[kFrames - 100], endWet[2900]);
    // Three frames: len / 4 = 0, the gated samples are written as they are.
    const AudioData tiny = NoiseReduction::apply(profile, audio, {9000, 9003}, 0.9);
    const auto tinyWet = gated(audio.left, profile.left, 9000, 9003);
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(tiny.left[9000 + i], tinyWet[i]);
    expectOutsideUnchanged(tiny, 9000, 9003);
    // A non-finite or huge strength is full strength.
    EXPECT_EQ(NoiseReduction::apply(profile, audio, {0, kFrames}, std::nan("")),
              NoiseReduction::apply(profile, audio, {0, kFrames}, 1e300));
}
