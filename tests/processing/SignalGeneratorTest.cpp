#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/FFT.h"
#include "processing/SignalGenerator.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

using test::peak;
using test::refusal;

double rmsDB(std::span<const float> x) { return 20.0 * std::log10(test::rms(x)); }

// Welch estimate of the power density (8192-point Hann segments, half overlap), averaged over
// the bins of the third-octave band around `centre`, in dB.
double bandDensityDB(std::span<const float> x, double centre) {
    constexpr std::size_t N = 8192;
    FFT fft(N);
    const std::vector<float> w = FFT::hann(N);
    std::vector<float> frame(N), re(N / 2), im(N / 2), mag(N / 2 + 1);
    std::vector<double> power(N / 2 + 1, 0.0);
    int segments = 0;
    for (std::size_t start = 0; start + N <= x.size(); start += N / 2, ++segments) {
        for (std::size_t k = 0; k < N; ++k) frame[k] = x[start + k] * w[k];
        fft.forward(frame, re, im);
        fft.magnitudes(re, im, mag);
        for (std::size_t b = 0; b <= N / 2; ++b) power[b] += double(mag[b]) * mag[b];
    }
    const double binHz = 48000.0 / N;
    const int lo = static_cast<int>(std::ceil(centre * std::pow(2.0, -1.0 / 6.0) / binHz));
    const int hi = static_cast<int>(std::floor(centre * std::pow(2.0, 1.0 / 6.0) / binHz));
    double sum = 0.0;
    for (int b = lo; b <= hi; ++b) sum += power[std::size_t(b)];
    return 10.0 * std::log10(sum / (hi - lo + 1) / segments);
}

}  // namespace

TEST(SignalGenerator, DurationsBecomeFrameCountsUpToEightMinutes) {
    EXPECT_EQ(SignalGenerator::frames(480.0), 23'040'000);
    EXPECT_EQ(SignalGenerator::frames(1.0 / 96000.0), 1);  // half a frame rounds up
    EXPECT_EQ(SignalGenerator::frames(0.5), 24'000);
    const std::string tooLong = L("Длительность ограничена 8 минутами.");
    const std::string notPositive = L("Укажите длительность больше нуля.");
    EXPECT_EQ(refusal([] { SignalGenerator::frames(480.0001); }), tooLong);
    EXPECT_EQ(refusal([] { SignalGenerator::frames(1e300); }), tooLong);
    for (double d : {0.0, -0.0, -1.0, 1e-6, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()})
        EXPECT_EQ(refusal([d] { SignalGenerator::frames(d); }), notPositive) << d;
}

TEST(SignalGenerator, ToneChecksFrequencyThenLevelThenDuration) {
    const std::string frequency = L("Частота должна быть от 20 до 20 000 Гц.");
    const std::string level = L("Уровень должен быть не выше 0 dBFS.");
    auto tone = [](double f, double db, double d) {
        return refusal([=] { SignalGenerator::tone(ToneWaveform::sine, f, db, d); });
    };
    EXPECT_EQ(tone(19.999, 0.1, -1), frequency);
    EXPECT_EQ(tone(20000.001, -6, 1), frequency);
    EXPECT_EQ(tone(std::numeric_limits<double>::quiet_NaN(), -6, 1), frequency);
    EXPECT_EQ(tone(1000, 0.1, -1), level);
    EXPECT_EQ(tone(1000, std::numeric_limits<double>::quiet_NaN(), 1), level);
    EXPECT_EQ(tone(1000, -std::numeric_limits<double>::infinity(), 1), level);
    EXPECT_EQ(tone(1000, -0.0, 0), L("Укажите длительность больше нуля."));
    EXPECT_EQ(tone(20, -0.0, 0.01), "");
    EXPECT_EQ(tone(20000, 0.0, 0.01), "");
    EXPECT_EQ(refusal([] { SignalGenerator::noise(NoiseColor::pink, 0.5, 1, 1); }), level);
    EXPECT_EQ(refusal([] { SignalGenerator::noise(NoiseColor::pink, -3, 481, 1); }), L("Длительность ограничена 8 минутами."));
}

TEST(SignalGenerator, SinePeaksExactlyAtTheLevelAndFollowsTheFormula) {
    const AudioData a = SignalGenerator::tone(ToneWaveform::sine, 1000.0, -6.0, 1.0);
    ASSERT_EQ(a.frames(), 48'000);
    EXPECT_EQ(a.left, a.right);
    const auto target = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
    EXPECT_EQ(peak(a.left.span()), target);
    for (std::size_t i = 0; i < 48'000; i += 7)
        ASSERT_NEAR(a.left[i], target * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 48000.0), 1e-6) << i;

    // Below −120 dB the level is −120 dB.
    const AudioData quiet = SignalGenerator::tone(ToneWaveform::sine, 440.0, -200.0, 0.1);
    EXPECT_EQ(peak(quiet.left.span()), static_cast<float>(1e-6));
}

TEST(SignalGenerator, CorrectedWaveformsPeakExactlyAtTheLevel) {
    for (ToneWaveform waveform : allCases<ToneWaveform>()) {
        for (double frequency : {20.0, 997.0, 20000.0}) {
            for (double level : {0.0, -3.0, -37.5}) {
                const AudioData a = SignalGenerator::tone(waveform, frequency, level, 0.25);
                EXPECT_EQ(peak(a.left.span()), static_cast<float>(std::pow(10.0, level / 20.0)))
                    << rawValue(waveform) << " " << frequency << " " << level;
            }
        }
    }
}

TEST(SignalGenerator, NoiseIsSeededAndIndependentPerChannel) {
    for (NoiseColor color : allCases<NoiseColor>()) {
        const AudioData a = SignalGenerator::noise(color, -20.0, 0.5, 42);
        const AudioData b = SignalGenerator::noise(color, -20.0, 0.5, 42);
        ASSERT_EQ(a.frames(), 24'000);
        EXPECT_TRUE(std::equal(a.left.begin(), a.left.end(), b.left.begin()));
        EXPECT_TRUE(std::equal(a.right.begin(), a.right.end(), b.right.begin()));
        EXPECT_NE(a.left, a.right);
        EXPECT_NE(a.left, SignalGenerator::noise(color, -20.0, 0.5, 43).left);
    }
}

TEST(SignalGenerator, NoiseLevelIsAnRmsLevelPerChannel) {
    const AudioData quiet = SignalGenerator::noise(NoiseColor::white, -20.0, 10.0, 1);
    for (const auto* ch : {&quiet.left, &quiet.right}) {
        EXPECT_NEAR(rmsDB(ch->span()), -20.0, 0.1);
        EXPECT_LT(peak(ch->span()), 1.0f);
    }
    // At 0 dBFS RMS the peaks beyond full scale are clipped, which takes the level a little under.
    const AudioData loud = SignalGenerator::noise(NoiseColor::white, 0.0, 1.0, 1);
    EXPECT_EQ(peak(loud.left.span()), 1.0f);
    EXPECT_GT(std::count(loud.left.begin(), loud.left.end(), 1.0f), 0);
    EXPECT_LT(rmsDB(loud.left.span()), 0.0);
    for (NoiseColor color : {NoiseColor::pink, NoiseColor::brown})
        EXPECT_NEAR(rmsDB(SignalGenerator::noise(color, -30.0, 5.0, 3).left.span()), -30.0, 0.1) << rawValue(color);
    EXPECT_NEAR(rmsDB(SignalGenerator::noise(NoiseColor::pink, -200.0, 1.0, 3).left.span()), -120.0, 0.1);
}

TEST(SignalGenerator, PinkNoiseFallsThreeAndBrownSixDecibelsPerOctave) {
    const AudioData pink = SignalGenerator::noise(NoiseColor::pink, -20.0, 60.0, 5);
    const double reference = bandDensityDB(pink.left.span(), 1000.0);
    for (double f : {100.0, 200.0, 400.0, 800.0, 1600.0, 3200.0, 6400.0, 10000.0}) {
        const double expected = -10.0 * std::log10(f / 1000.0);
        EXPECT_NEAR(bandDensityDB(pink.left.span(), f) - reference, expected, 1.0) << f;
        EXPECT_NEAR(bandDensityDB(pink.right.span(), f) - reference, expected, 1.0) << f;
    }
    // Brown noise: the leaky integrator falls 6 dB per octave well above its corner (~150 Hz).
    const AudioData brown = SignalGenerator::noise(NoiseColor::brown, -20.0, 20.0, 5);
    const double at1k = bandDensityDB(brown.left.span(), 1000.0);
    for (double f : {2000.0, 4000.0})
        EXPECT_NEAR(bandDensityDB(brown.left.span(), f) - at1k, -20.0 * std::log10(f / 1000.0), 1.0) << f;
}
