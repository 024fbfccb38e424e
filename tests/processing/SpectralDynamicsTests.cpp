// The de-esser kernel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "processing/SpectralDynamics.h"
#include "processing/SpectralTestSupport.h"
#include "support/TestSignals.h"

using namespace tessoral;
using namespace tessoral::spectraltest;

using test::maxDifference;

namespace {

// A 300 Hz voice-like tone throughout, with 0.1 s bursts of a 7 kHz "s" every half second.
std::vector<float> sibilantSpeech(std::size_t n, double burstAmplitude = 0.3) {
    std::vector<float> x(n, 0.0f);
    addSine(x, 300.0, 0.3);
    for (std::size_t start = 12000; start + 4800 <= n; start += 24000) addSine(x, 7000.0, burstAmplitude, start, start + 4800);
    return x;
}

}  // namespace

TEST(SpectralDynamics, EmptyAndShortInputs) {
    EXPECT_TRUE(SpectralDynamics::deessChannel({}, 0.5f, 0.1f, 4000.0).empty());
    for (std::size_t n : {std::size_t{1}, std::size_t{255}, std::size_t{1024}})
        EXPECT_EQ(SpectralDynamics::deessChannel(whiteNoise(n, 5, 0.5), 0.5f, 0.1f, 4000.0).size(), n);
}

TEST(SpectralDynamics, NothingAboveTheThresholdLeavesTheSignal) {
    // A sensitivity far above every frame's band level, and a floor of 1: both must leave the
    // material as it was, however sibilant.
    const auto x = sibilantSpeech(48000);
    EXPECT_LT(maxDifference(x, SpectralDynamics::deessChannel(x, 100.0f, 0.1f, 4000.0)), 1e-5);
    EXPECT_LT(maxDifference(x, SpectralDynamics::deessChannel(x, 0.1f, 1.0f, 4000.0)), 1e-5);
    // Silence stays silence (the mean level is held above zero).
    const std::vector<float> silence(5000, 0.0f);
    EXPECT_EQ(SpectralDynamics::deessChannel(silence, 0.5f, 0.1f, 4000.0), silence);
}

TEST(SpectralDynamics, TurnsDownSibilanceOnly) {
    const std::size_t n = 2 * 48000;
    const auto x = sibilantSpeech(n);
    const auto y = SpectralDynamics::deessChannel(x, 0.5f, 0.1f, 4000.0);
    ASSERT_EQ(y.size(), n);
    // Inside the second burst (36000 … 40800), away from its attack.
    const double before = amplitudeAt(x, 7000.0, 37200, 2400);
    const double after = amplitudeAt(y, 7000.0, 37200, 2400);
    EXPECT_LT(dB(after / before), -10.0);
    // The voice below the band is untouched, inside and between bursts.
    for (std::size_t from : {std::size_t{37200}, std::size_t{24000}})
        EXPECT_NEAR(dB(amplitudeAt(y, 300.0, from, 4800) / amplitudeAt(x, 300.0, from, 4800)), 0.0, 0.05);
    // Between the bursts nothing is reduced once the release has settled.
    EXPECT_LT(maxDifference(std::span(x).subspan(26000, 8000), std::span(y).subspan(26000, 8000)), 1e-4);
}

TEST(SpectralDynamics, FloorBoundsTheReductionAndTheBandStartsAtTheLowerEdge) {
    const auto x = sibilantSpeech(2 * 48000);
    auto burstRatio = [&](float sensitivity, float floor, double low) {
        const auto y = SpectralDynamics::deessChannel(x, sensitivity, floor, low);
        return amplitudeAt(y, 7000.0, 37200, 2400) / amplitudeAt(x, 7000.0, 37200, 2400);
    };
    EXPECT_NEAR(burstRatio(0.05f, 0.5f, 4000.0), 0.5, 0.02);
    // With the band starting at 9 kHz the 7 kHz bursts are outside it and pass unchanged.
    EXPECT_NEAR(dB(burstRatio(0.5f, 0.1f, 9000.0)), 0.0, 0.05);
}

TEST(SpectralDynamics, LowerEdgeOutsideTheBandIsClamped) {
    const auto x = sibilantSpeech(48000);
    for (double low : {-500.0, 0.0, 10546.875, 20000.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()}) {
        const auto y = SpectralDynamics::deessChannel(x, 0.5f, 0.1f, low);
        ASSERT_EQ(y.size(), x.size());
        for (float v : y) ASSERT_TRUE(std::isfinite(v)) << low;
    }
    // Above the top the band is its last bin alone (10.5 kHz), far from the 7 kHz bursts.
    const auto high = SpectralDynamics::deessChannel(x, 0.5f, 0.1f, 20000.0);
    EXPECT_NEAR(dB(amplitudeAt(high, 7000.0, 13200, 2400) / amplitudeAt(x, 7000.0, 13200, 2400)), 0.0, 0.05);
}
