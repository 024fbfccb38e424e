#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "model/StudioError.h"
#include "processing/TimePitch.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

AudioData tone(double hz, std::int64_t frames, std::int64_t silenceBefore = 0) {
    std::vector<float> s(static_cast<std::size_t>(silenceBefore), 0.0f);
    const auto t = test::sine(static_cast<std::size_t>(frames - silenceBefore), hz);
    s.insert(s.end(), t.begin(), t.end());
    return AudioData::mono(std::move(s));
}

// Mean frequency from the upward zero crossings of the middle half, interpolated between samples.
double crossingFrequency(const SharedArray<float>& x) {
    const std::size_t from = x.size() / 4, to = 3 * x.size() / 4;
    double first = -1, last = -1;
    int count = 0;
    for (std::size_t i = from; i < to; ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = t;
            last = t;
            ++count;
        }
    }
    return (count - 1) / (last - first) * 48000.0;
}

void expectRefused(const AudioData& audio, double rate) {
    EXPECT_EQ(test::refusal([&] { AudioIO::timePitch(audio, rate, 0); }), "Замедление превышает предел длины клипа в 8 минут.");
}

}  // namespace

TEST(TimePitchTest, LengthIsTheInputLengthOverTheRate) {
    const AudioData in = test::noise(100'000, 0.5f, 11);
    EXPECT_EQ(AudioIO::timePitch(in, 0.5, 0).frames(), 200'000);
    EXPECT_EQ(AudioIO::timePitch(in, 2.0, 0).frames(), 50'000);
    EXPECT_EQ(AudioIO::timePitch(in, 0.8, -5).frames(), 125'000);
    EXPECT_EQ(AudioIO::timePitch(in.slice({0, 3}), 0.8, 0).frames(), 4);  // 3.75 rounds up
    // One frame at rate 2: 0.5 rounds away from zero.
    EXPECT_EQ(AudioIO::timePitch(in.slice({0, 1}), 2.0, 0).frames(), 1);
}

TEST(TimePitchTest, RateAndPitchAreClampedAndNonFiniteValuesAreNeutral) {
    const AudioData in = tone(300, 20'000);
    EXPECT_EQ(AudioIO::timePitch(in, 3.0, 0), AudioIO::timePitch(in, 2.0, 0));
    EXPECT_EQ(AudioIO::timePitch(in, 0.1, 0), AudioIO::timePitch(in, 0.5, 0));
    EXPECT_EQ(AudioIO::timePitch(in, std::numeric_limits<double>::quiet_NaN(), 0), AudioIO::timePitch(in, 1.0, 0));
    EXPECT_EQ(AudioIO::timePitch(in, 1.0, 20), AudioIO::timePitch(in, 1.0, 12));
    EXPECT_EQ(AudioIO::timePitch(in, 1.0, -std::numeric_limits<double>::infinity()), AudioIO::timePitch(in, 1.0, 0));
}

TEST(TimePitchTest, PitchMovesByTheSemitonesAndStretchingKeepsIt) {
    const AudioData in = tone(440, 96'000);
    EXPECT_NEAR(crossingFrequency(AudioIO::timePitch(in, 1.0, 12).left), 880.0, 880.0 * 0.005);
    EXPECT_NEAR(crossingFrequency(AudioIO::timePitch(in, 1.0, -12).left), 220.0, 220.0 * 0.005);
    EXPECT_NEAR(crossingFrequency(AudioIO::timePitch(in, 0.8, 0).left), 440.0, 440.0 * 0.005);
    EXPECT_NEAR(crossingFrequency(AudioIO::timePitch(in, 1.6, 7).left), 440.0 * std::pow(2.0, 7.0 / 12.0),
                440.0 * 0.005 * 1.5);
}

TEST(TimePitchTest, ResultsOutsideTheClipLimitAreRefused) {
    expectRefused(AudioData(), 1.0);
    // 11,520,001 frames at half speed would give 23,040,002 frames; refused before any work.
    expectRefused(AudioData::mono(std::vector<float>(11'520'001, 0.1f)), 0.5);
}

TEST(TimePitchTest, ShortLeadingSilenceIsDroppedLongSilenceStays) {
    // The stretcher reports no latency, so the result starts at the first audible frame when that
    // lies within the first 6000 rendered frames.
    const AudioData shortGap = AudioIO::timePitch(tone(500, 40'000, 3'000), 1.0, 0);
    EXPECT_EQ(shortGap.frames(), 40'000);
    EXPECT_TRUE(std::fabs(shortGap.left[0]) > 0.0001f || std::fabs(shortGap.right[0]) > 0.0001f);
    const AudioData longGap = AudioIO::timePitch(tone(500, 40'000, 9'000), 1.0, 0);
    EXPECT_EQ(longGap.frames(), 40'000);
    for (std::size_t i = 0; i < 6'000; ++i) ASSERT_LE(std::fabs(longGap.left[i]), 0.0001f) << i;
}

TEST(TimePitchTest, NonFiniteSamplesDoNotSpreadIntoTheResult) {
    AudioData in = tone(440, 30'000);
    in.left.mutableVector()[10'000] = std::numeric_limits<float>::quiet_NaN();
    in.right.mutableVector()[20'000] = std::numeric_limits<float>::infinity();
    const AudioData out = AudioIO::timePitch(in, 0.7, 3);
    EXPECT_TRUE(test::allFinite(out));
}
