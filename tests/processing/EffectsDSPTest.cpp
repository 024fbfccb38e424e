#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "processing/EQDesign.h"
#include "processing/EffectsDSP.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

// Direct Form I cascade with double samples and state.
std::vector<double> referenceCascade(const SharedArray<float>& in, const std::vector<Biquad>& sections) {
    std::vector<double> x(in.begin(), in.end());
    for (const Biquad& s : sections) {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double& v : x) {
            const double y = s.b0 * v + s.b1 * x1 + s.b2 * x2 - s.a1 * y1 - s.a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = y, v = y;
        }
    }
    return x;
}

// The modulated delay written over the whole history instead of a ring: the delay line holds
// r[m] = x[m] + fb·s[m] and s[n] interpolates it D(n) frames back.
std::vector<double> referenceDelay(const SharedArray<float>& in, double depthMs, double rate, double mixPct,
                                   double fbPct, double base, double phase) {
    const double d = depthMs / 1000, omega = rate * 2 * std::numbers::pi / 48000;
    const double mix = mixPct / 100, fb = fbPct / 100;
    std::vector<double> line(in.size()), out(in.size());
    auto at = [&](long long m) { return m < 0 ? 0.0 : line[static_cast<std::size_t>(m)]; };
    for (std::size_t n = 0; n < in.size(); ++n) {
        const double D = (d * std::sin(omega * double(n) + phase) + base) * 48000;
        const auto k = static_cast<long long>(D);
        const double f = D - double(k);
        const double s = (1 - f) * at(static_cast<long long>(n) - k) + f * at(static_cast<long long>(n) - k - 1);
        line[n] = in[n] + fb * s;
        out[n] = (1 - mix) * in[n] + mix * s;
    }
    return out;
}

void expectClose(const SharedArray<float>& actual, const std::vector<double>& expected, double tolerance) {
    ASSERT_EQ(actual.size(), expected.size());
    double worst = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) worst = std::max(worst, std::fabs(actual[i] - expected[i]));
    EXPECT_LT(worst, tolerance);
}

AudioData sineMono(std::int64_t frames, double hz, float amplitude) {
    return AudioData::mono(test::sine(std::size_t(frames), hz, amplitude));
}

}  // namespace

TEST(EffectsDSPTest, BiquadCascadeMatchesDoubleReference) {
    EffectParams p{{"hp.on", 1}, {"hp.f", 80}, {"ls.g", 6}, {"p1.g", -9}, {"p2.g", 12}, {"p2.q", 6},
                   {"p3.g", -4}, {"p4.g", 7}, {"hs.g", -5}, {"lp.on", 1}, {"lp.f", 15000}};
    const auto sections = EQDesign::sections(EffectPreset::parametricEQ, p);
    ASSERT_EQ(sections.size(), 8u);
    const AudioData in = test::noise(48000, 0.25f, 7);
    const AudioData out = EffectsDSP::biquads(in, sections);
    expectClose(out.left, referenceCascade(in.left, sections), 1e-5);
    expectClose(out.right, referenceCascade(in.right, sections), 1e-5);
}

TEST(EffectsDSPTest, BiquadTrivialCases) {
    const AudioData in = test::noise(1000, 0.5f, 3);
    EXPECT_TRUE(EffectsDSP::biquads(in, {}).left.sharesStorageWith(in.left));
    EXPECT_TRUE(EffectsDSP::biquads(AudioData(), {Biquad{0.5, 0, 0, 0, 0}}).empty());
    const AudioData identity = EffectsDSP::biquads(in, {Biquad{1, 0, 0, 0, 0}, Biquad{1, 0, 0, 0, 0}});
    EXPECT_FALSE(identity.left.sharesStorageWith(in.left));
    EXPECT_EQ(identity, in);
    EXPECT_EQ(EffectsDSP::invert(EffectsDSP::invert(in)), in);
    EXPECT_EQ(EffectsDSP::invert(in).left[5], -in.left[5]);
}

TEST(EffectsDSPTest, ModulatedDelaysMatchHistoryReference) {
    const AudioData in = test::noise(30000, 0.5f, 11);
    const EffectParams chorusParams{{"depth", 15}, {"rate", 3}, {"mix", 60}, {"feedback", 70}};
    const AudioData chorus = EffectsDSP::chorus(in, chorusParams);
    expectClose(chorus.left, referenceDelay(in.left, 15, 3, 60, 70, 0.018, 0), 1e-5);
    expectClose(chorus.right, referenceDelay(in.right, 15, 3, 60, 70, 0.018, std::numbers::pi / 2), 1e-5);

    const AudioData flanger = EffectsDSP::flanger(in, {});  // defaults: 1.2 ms, 0.25 Hz, 50 %, 35 %
    expectClose(flanger.left, referenceDelay(in.left, 1.2, 0.25, 50, 35, 0.0015, 0), 1e-5);
    expectClose(flanger.right, referenceDelay(in.right, 1.2, 0.25, 50, 35, 0.0015, 0), 1e-5);

    // Extremes of the ranges: the delay never reaches the sample being written.
    const EffectParams widest{{"depth", 1.4}, {"rate", 5}, {"mix", 100}, {"feedback", 90}};
    expectClose(EffectsDSP::flanger(in, widest).left, referenceDelay(in.left, 1.4, 5, 100, 90, 0.0015, 0), 1e-5);
}

TEST(EffectsDSPTest, ModulatedDelayMixAndChannels) {
    const AudioData in = test::noise(5000, 0.8f, 5);
    for (const EffectParams& p : {EffectParams{{"mix", 0}, {"feedback", 70}}, EffectParams{{"mix", 0}}}) {
        EXPECT_EQ(EffectsDSP::chorus(in, p), in);
        EXPECT_EQ(EffectsDSP::flanger(in, p), in);
    }
    const AudioData wetChorus = EffectsDSP::chorus(in, {{"mix", 100}});
    const AudioData wetFlanger = EffectsDSP::flanger(in, {{"mix", 100}});
    EXPECT_EQ(test::peak(wetChorus.left.span().first(864)), 0.0f);
    EXPECT_EQ(test::peak(wetFlanger.left.span().first(72)), 0.0f);
    EXPECT_NE(wetChorus.left[900], 0.0f);
    EXPECT_NE(wetFlanger.left[80], 0.0f);

    const AudioData mono = sineMono(20000, 440, 0.5f);
    const AudioData flanged = EffectsDSP::flanger(mono, {});
    EXPECT_EQ(flanged.left, flanged.right);
    const AudioData chorused = EffectsDSP::chorus(mono, {});
    EXPECT_NE(chorused.left, chorused.right);
    EXPECT_EQ(chorused.frames(), 20000);
    EXPECT_TRUE(EffectsDSP::chorus(AudioData(), {}).empty());
}

TEST(EffectsDSPTest, LevelerHoldsInNearSilenceAndSettlesOnLoudMaterial) {
    EXPECT_TRUE(EffectsDSP::leveler(AudioData(), {}).empty());
    const AudioData silent = AudioData::silence(30000);
    EXPECT_EQ(EffectsDSP::leveler(silent, {}), silent);
    // Below an RMS of 0.001 the gain never leaves 1.
    const AudioData faint = sineMono(30000, 200, 0.001f);
    EXPECT_EQ(EffectsDSP::leveler(faint, {}), faint);

    // Full-scale square wave: the desired 0.125 is raised to the floor 1/4.
    const AudioData levelled = EffectsDSP::leveler(AudioData::mono(test::square(48000, 100)), {});
    EXPECT_LE(test::peak(levelled), 1.0f);
    EXPECT_GT(std::fabs(levelled.left[10]), 0.95f);  // starts near unity, falls over ~500 frames
    for (std::size_t i = 10000; i < 48000; i += 997) {
        EXPECT_NEAR(std::fabs(levelled.left[i]), 0.25f, 1e-4) << i;
        EXPECT_EQ(levelled.left[i], levelled.right[i]);
    }
}

TEST(EffectsDSPTest, LevelerGainStaysWithinMaxGain) {
    const double lo = std::pow(10.0, -1.0 / 20), hi = std::pow(10.0, 1.0 / 20);
    // Quiet then loud: the gain rises towards +1 dB, then falls towards −1 dB.
    std::vector<float> x(200000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = (i < 100000 ? 0.01f : 0.9f) * static_cast<float>(std::sin(0.05 * double(i)));
    const AudioData in = AudioData::mono(x);
    const AudioData out = EffectsDSP::leveler(in, {{"maxGain", 1}});
    double smallest = 10, largest = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::fabs(x[i]) < 0.005f) continue;
        const double g = out.left[i] / x[i];
        smallest = std::min(smallest, g);
        largest = std::max(largest, g);
    }
    EXPECT_GE(smallest, lo - 1e-6);
    EXPECT_LE(largest, hi + 1e-6);
    EXPECT_GT(largest, hi - 0.01);
    EXPECT_LT(smallest, lo + 0.01);
}

TEST(EffectsDSPTest, LevelerIgnoresNonFiniteSamplesWhenMeasuring) {
    std::vector<float> x(40000, 0.5f);
    x[100] = std::numeric_limits<float>::quiet_NaN();
    const AudioData out = EffectsDSP::leveler(AudioData::mono(x), {});
    // Far from the bad sample the level is still measured and the gain still rides.
    EXPECT_NEAR(out.left[39999], 0.125f, 0.01f);
}
