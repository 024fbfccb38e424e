#include <gtest/gtest.h>

#include <vector>

#include "model/AutoDuck.h"
#include "model/Automation.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::kInf, test::kNaN;

namespace {

// Silence with a constant level in the given 50 ms windows.
AudioData voiceWith(std::int64_t frames, std::vector<int> loudWindows, float level = 0.5f) {
    std::vector<float> samples(static_cast<std::size_t>(frames), 0.0f);
    for (int w : loudWindows) {
        for (std::int64_t i = w * 2400; i < std::min<std::int64_t>(frames, (w + 1) * 2400); ++i) samples[i] = level;
    }
    return AudioData::mono(std::move(samples));
}

AutoDuckSettings settings(double duckDB, double downMS, double upMS) {
    AutoDuckSettings s;
    s.duckDB = duckDB, s.thresholdDB = -40.0, s.fadeDownMS = downMS, s.fadeUpMS = upMS, s.holdMS = 600.0;
    return s;
}

void expectEnvelope(const Envelope& actual, const Envelope& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(actual[i].time, expected[i].time, 1e-12) << i;
        EXPECT_NEAR(actual[i].value, expected[i].value, 1e-12) << i;
    }
}

}  // namespace

TEST(AutoDuckSpeechRegions, HoldBridgesShortGaps) {
    const std::vector<AutoDuck::VoiceSource> voices{{voiceWith(14400, {0, 3}), 0.0, 0.0}};
    const auto bridged = AutoDuck::speechRegions(voices, -40.0, 0.2);
    ASSERT_EQ(bridged.size(), 1u);
    EXPECT_DOUBLE_EQ(bridged[0].lower, 0.0);
    EXPECT_DOUBLE_EQ(bridged[0].upper, 0.2);

    const auto apart = AutoDuck::speechRegions(voices, -40.0, 0.05);
    ASSERT_EQ(apart.size(), 2u);
    EXPECT_DOUBLE_EQ(apart[0].upper, 0.05);
    EXPECT_DOUBLE_EQ(apart[1].lower, 0.15);
    EXPECT_DOUBLE_EQ(apart[1].upper, 0.2);
}

TEST(AutoDuckSpeechRegions, ThresholdIsJudgedBeforeTheClipGain) {
    // RMS 0.005 (−46 dBFS) against −40 dB: silent at 0 dB, speech on a clip raised by 20 dB.
    const AudioData quiet = voiceWith(2400, {0}, 0.005f);
    EXPECT_TRUE(AutoDuck::speechRegions({{quiet, 0.0, 0.0}}, -40.0, 0.0).empty());
    EXPECT_EQ(AutoDuck::speechRegions({{quiet, 0.0, 20.0}}, -40.0, 0.0).size(), 1u);
    // A gain of −∞ dB floors at 1e-9 instead of dividing by zero.
    EXPECT_TRUE(AutoDuck::speechRegions({{quiet, 0.0, -kInf}}, -40.0, 0.0).empty());
}

TEST(AutoDuckSpeechRegions, VoicesAreSortedAndTheLastWindowIsShort) {
    // 2500 frames: the short last window of 100 frames is loud.
    std::vector<float> tail(2500, 0.0f);
    for (int i = 2400; i < 2500; ++i) tail[i] = 0.5f;
    const std::vector<AutoDuck::VoiceSource> voices{
        {AudioData::mono(tail), 10.0, 0.0},
        {voiceWith(2400, {0}), 2.0, 0.0},
        {voiceWith(2400, {0}), kNaN, 0.0},  // a clip with no place on the timeline
    };
    const auto regions = AutoDuck::speechRegions(voices, -40.0, 0.0);
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_DOUBLE_EQ(regions[0].lower, 2.0);
    EXPECT_DOUBLE_EQ(regions[0].upper, 2.05);
    EXPECT_DOUBLE_EQ(regions[1].lower, 10.05);
    EXPECT_DOUBLE_EQ(regions[1].upper, 10.0 + 2500.0 / 48000.0);

    EXPECT_TRUE(AutoDuck::speechRegions(voices, kNaN, 0.0).empty());
    EXPECT_TRUE(AutoDuck::speechRegions({{AudioData(), 0.0, 0.0}}, -40.0, 0.0).empty());
}

TEST(AutoDuckKeyframes, NothingToDuck) {
    const auto s = settings(-15.0, 250.0, 800.0);
    EXPECT_TRUE(AutoDuck::keyframes({}, 0.0, 10.0, s).empty());
    EXPECT_TRUE(AutoDuck::keyframes({{30.0, 31.0}, {-5.0, -2.0}}, 5.0, 10.0, s).empty());
    EXPECT_TRUE(AutoDuck::keyframes({{6.0, 7.0}}, 5.0, kNaN, s).empty());
}

TEST(AutoDuckKeyframes, RegionsWhoseRampsMeetAreMerged) {
    // In clip time: 2…3 and 4.4…5; the second ramp down (3.9) starts before the first is up (4).
    expectEnvelope(AutoDuck::keyframes({{12.0, 13.0}, {14.4, 15.0}}, 10.0, 30.0, settings(-20.0, 500.0, 1000.0)),
                   {{1.5, 0.0}, {2.0, -20.0}, {5.0, -20.0}, {6.0, 0.0}});
}

TEST(AutoDuckKeyframes, RampsCrossingTheClipEdgesAreInterpolated) {
    // Starts 0.25 s into the clip with a 0.5 s ramp: halfway down at time 0.
    expectEnvelope(AutoDuck::keyframes({{10.25, 11.0}}, 10.0, 5.0, settings(-20.0, 500.0, 500.0)),
                   {{0.0, -10.0}, {0.25, -20.0}, {1.0, -20.0}, {1.5, 0.0}});
    // Ends 0.5 s before the clip's end with a 1 s ramp up.
    expectEnvelope(AutoDuck::keyframes({{3.0, 4.5}}, 0.0, 5.0, settings(-20.0, 0.0, 1000.0)),
                   {{3.0, 0.0}, {3.0, -20.0}, {4.5, -20.0}, {5.0, -10.0}});
}

TEST(AutoDuckKeyframes, DepthAndRampLimits) {
    // Depth within −60…0 dB; a NaN depth is the deepest; endless ramps would leave no finite
    // place for the ramp's start, so they count as none, as do negative or NaN ones.
    const std::pair<AutoDuckSettings, double> cases[] = {{settings(6.0, 0.0, 0.0), 0.0},
                                                         {settings(-90.0, 0.0, 0.0), -60.0},
                                                         {settings(kNaN, -100.0, kNaN), -60.0},
                                                         {settings(-20.0, kInf, kInf), -20.0}};
    for (const auto& [s, depth] : cases)
        expectEnvelope(AutoDuck::keyframes({{1.0, 2.0}}, 0.0, 5.0, s), {{1.0, 0.0}, {1.0, depth}, {2.0, depth}, {2.0, 0.0}});
    // Reversed or non-finite regions are skipped.
    EXPECT_TRUE(AutoDuck::keyframes({{2.0, 1.0}, {kNaN, 1.0}, {-kInf, kInf}}, 0.0, 5.0, settings(-20.0, 0.0, 0.0)).empty());
}

TEST(AutoDuckKeyframes, AtMost499RegionsStayLoadable) {
    std::vector<TimeRange> regions;
    for (int i = 0; i < 600; ++i) regions.push_back({0.5 + i * 0.75, 0.75 + i * 0.75});
    const Envelope points = AutoDuck::keyframes(regions, 0.0, 480.0, settings(-15.0, 100.0, 100.0));
    EXPECT_EQ(points.size(), 499u * 4);
    EXPECT_TRUE(Automation::isValid(points, Automation::kVolumeRange));
    EXPECT_NEAR(points.back().time, 0.75 + 498 * 0.75 + 0.1, 1e-9);
}
