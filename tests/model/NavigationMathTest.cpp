#include <gtest/gtest.h>

#include <cmath>

#include "model/BeatGrid.h"
#include "model/Metronome.h"
#include "model/NavigationMath.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::kInf, test::kNaN;

namespace {
const BeatGrid k120{120.0, 4};

// The step for a given minimum: the width equals the spacing, so minimum = duration.
double stepFor(double minimum, TimeFormat format, BeatGrid grid = k120) {
    return NavigationMath::rulerStep(minimum, 95, format, grid, 95);
}

}  // namespace

TEST(NavigationMath, RulerStepInSeconds) {
    EXPECT_DOUBLE_EQ(NavigationMath::rulerStep(60, 900, TimeFormat::clock, k120, 95), 10);  // minimum 6.33 s
    // Narrower than the spacing: the minimum is the whole duration.
    EXPECT_DOUBLE_EQ(NavigationMath::rulerStep(7, 50, TimeFormat::seconds, k120, 95), 10);
    EXPECT_DOUBLE_EQ(NavigationMath::rulerStep(0.9, 1000, TimeFormat::samples, k120, 95), 0.1);
    EXPECT_DOUBLE_EQ(stepFor(0.011, TimeFormat::clock), 0.02);
    EXPECT_DOUBLE_EQ(stepFor(11, TimeFormat::clock), 15);
    EXPECT_DOUBLE_EQ(stepFor(500, TimeFormat::clock), 120);  // beyond the list
    EXPECT_DOUBLE_EQ(stepFor(kNaN, TimeFormat::clock), 120);
    EXPECT_DOUBLE_EQ(NavigationMath::rulerStep(60, 900, TimeFormat::clock, k120, 0), 0.01);  // no spacing
    EXPECT_DOUBLE_EQ(NavigationMath::rulerStep(60, 0, TimeFormat::clock, k120, 0), 120);     // 0/0 is NaN
}

TEST(NavigationMath, RulerStepInBars) {
    EXPECT_DOUBLE_EQ(stepFor(1.5, TimeFormat::bars), 2);       // one bar
    EXPECT_DOUBLE_EQ(stepFor(0.1, TimeFormat::bars), 0.125);   // a quarter beat
    EXPECT_DOUBLE_EQ(stepFor(100, TimeFormat::bars), 128);     // 64 bars
    EXPECT_DOUBLE_EQ(stepFor(300, TimeFormat::bars), 256);     // 128 bars, the last entry
    EXPECT_DOUBLE_EQ(stepFor(2.1, TimeFormat::bars, {90, 3}), 4);  // bars of 2 s
    // Tempo 0 or non-finite counts as 120 BPM; no metre below one beat a bar.
    for (double tempo : {0.0, kNaN, kInf, -kInf}) {
        EXPECT_DOUBLE_EQ(stepFor(1.5, TimeFormat::bars, {tempo, 4}), 2);
        EXPECT_DOUBLE_EQ(stepFor(300, TimeFormat::bars, {tempo, 4}), 256);
    }
    EXPECT_DOUBLE_EQ(stepFor(0.7, TimeFormat::bars, {120, 0}), 1);   // two one-beat bars
    EXPECT_DOUBLE_EQ(stepFor(300, TimeFormat::bars, {120, 0}), 64);
}

TEST(NavigationMath, ExtendSelection) {
    using NavigationMath::extendSelection;
    EXPECT_EQ(extendSelection(std::nullopt, 5, 3), (TimeRange{3, 5}));
    EXPECT_EQ(extendSelection(std::nullopt, 5, 7), (TimeRange{5, 7}));
    EXPECT_EQ(extendSelection(TimeRange{2, 8}, 2, 10), (TimeRange{8, 10}));  // anchor is the far end
    EXPECT_EQ(extendSelection(TimeRange{2, 8}, 8, 1), (TimeRange{1, 2}));
    EXPECT_EQ(extendSelection(TimeRange{2, 8}, 5, 1), (TimeRange{1, 8}));    // a tie keeps the upper end
    EXPECT_EQ(extendSelection(TimeRange{2, 8}, 2, 8), std::nullopt);         // back onto the anchor
    EXPECT_EQ(extendSelection(std::nullopt, 5, 5 + 1e-10), std::nullopt);
    EXPECT_EQ(extendSelection(std::nullopt, 5, 5 + 1e-8), (TimeRange{5, 5 + 1e-8}));
    // A NaN anywhere never yields a range with NaN ends.
    EXPECT_EQ(extendSelection(std::nullopt, kNaN, 3), std::nullopt);
    EXPECT_EQ(extendSelection(std::nullopt, 3, kNaN), std::nullopt);
    EXPECT_EQ(extendSelection(TimeRange{kNaN, kNaN}, 3, 4), std::nullopt);
}

TEST(NavigationMath, AmplitudeMarks) {
    auto dbs = [](const std::vector<AmplitudeMark>& marks) {
        std::vector<int> out;
        for (const auto& m : marks) out.push_back(m.db);
        return out;
    };
    const auto one = NavigationMath::amplitudeMarks(1, 100, 12);
    EXPECT_EQ(dbs(one), (std::vector{0, -3, -6, -9, -18}));
    for (const auto& m : one) EXPECT_DOUBLE_EQ(m.fraction, std::pow(10.0, m.db / 20.0));
    // A zoom below 1 does not shrink the marks.
    EXPECT_EQ(NavigationMath::amplitudeMarks(0.5, 100, 12), one);
    EXPECT_EQ(NavigationMath::amplitudeMarks(kNaN, 100, 12), one);

    // Zoom 2: 0, −3 and −6 dB lie beyond full scale (2, 1.41, 1.002); −30 dB is 6.3 points
    // from the centre line.
    const auto two = NavigationMath::amplitudeMarks(2, 100, 12);
    EXPECT_EQ(dbs(two), (std::vector{-9, -12, -18, -24}));
    EXPECT_NEAR(two.front().fraction, 2 * 0.35481338923357547, 1e-12);

    // A tall waveform keeps every candidate.
    EXPECT_EQ(NavigationMath::amplitudeMarks(1, 1e6, 1).size(), 13u);
    EXPECT_TRUE(NavigationMath::amplitudeMarks(1, 0, 12).empty());
    EXPECT_TRUE(NavigationMath::amplitudeMarks(kInf, 100, 12).empty());
}

TEST(BeatGrid, NearestBeat) {
    EXPECT_DOUBLE_EQ(k120.nearestBeat(0.74), 0.5);
    EXPECT_DOUBLE_EQ(k120.nearestBeat(0.76), 1.0);
    EXPECT_DOUBLE_EQ(k120.nearestBeat(0.25), 0.5);  // halves away from zero
    for (double t : {-1.0, kNaN, -kInf}) EXPECT_EQ(k120.nearestBeat(t), 0.0) << t;
    // The result lies on a whole frame even where the beat does not (133 BPM).
    const BeatGrid odd{133, 4};
    for (double t = 0; t < 30; t += 0.37) {
        const double snapped = odd.nearestBeat(t);
        EXPECT_NEAR(snapped * 48000, std::round(snapped * 48000), 1e-6);
        EXPECT_LE(std::abs(snapped - t), 60.0 / 133 / 2 + 1.0 / 48000);
    }
    for (double tempo : {0.0, kNaN, kInf}) EXPECT_DOUBLE_EQ((BeatGrid{tempo, 4}.nearestBeat(0.74)), 0.5);
}

TEST(BeatGrid, BeatsInRange) {
    EXPECT_EQ(k120.beats({0.5, 1.0}), (BeatIndexRange{1, 2}));  // beats on both edges count
    EXPECT_EQ(k120.beats({0.6, 0.9}), std::nullopt);
    EXPECT_EQ(k120.beats({-1, 0}), (BeatIndexRange{0, 0}));
    EXPECT_EQ(k120.beats({0.5 + 1e-12, 1.0 - 1e-12}), (BeatIndexRange{1, 2}));
    EXPECT_EQ((BeatGrid{90, 3}.beats({0, 2})), (BeatIndexRange{0, 3}));
    // A beat on an edge counts even when the division is inexact: at 133 BPM,
    // (5 × beat) / beat is 4.999999999999999 and (7 × beat) / beat is 7.000000000000001.
    const double beat133 = 60.0 / 133;
    EXPECT_EQ((BeatGrid{133, 4}.beats({5 * beat133, 5 * beat133})), (BeatIndexRange{5, 5}));
    EXPECT_EQ((BeatGrid{133, 4}.beats({7 * beat133, 7 * beat133})), (BeatIndexRange{7, 7}));
    // Non-finite and huge edges count as 0 or saturate instead of overflowing.
    const auto all = k120.beats({-kInf, 1e300});
    ASSERT_TRUE(all);
    EXPECT_EQ(all->first, 0);
    EXPECT_EQ(all->last, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(k120.beats({kNaN, kNaN}), (BeatIndexRange{0, 0}));
    EXPECT_EQ(k120.beats({1e300, kInf}), (BeatIndexRange{std::numeric_limits<std::int64_t>::max(),
                                                         std::numeric_limits<std::int64_t>::max()}));
    EXPECT_EQ(k120.beats({0, -kInf}), std::nullopt);
    for (double tempo : {0.0, -0.0, kNaN, kInf, 1e-310})
        EXPECT_EQ((BeatGrid{tempo, 4}.beats({0.5, 1.0})), (BeatIndexRange{1, 2}));
}

TEST(Metronome, Click) {
    EXPECT_TRUE(Metronome::click(1760, 0.7f, 0).empty());
    EXPECT_TRUE(Metronome::click(1760, 0.7f, -5).empty());
    // 300 frames (6.25 ms) hold 11 whole periods of 1760 Hz: the burst has decayed by e.
    EXPECT_NEAR(Metronome::click(1760, 0.7f, 1440).at(300), 0.7 / std::exp(1.0), 1e-6);
    const auto soft = Metronome::click(1320, 0.38f, 1440);
    ASSERT_EQ(soft.size(), 1440u);
    for (std::size_t i = 0; i < soft.size(); ++i) {
        const long double t = static_cast<long double>(i) / 48000;
        const long double ref = 0.38L * std::cos(2 * 3.141592653589793238462643383279L * 1320 * t) * std::exp(-160 * t);
        ASSERT_NEAR(soft[i], static_cast<double>(ref), 1e-7) << i;
    }
}

TEST(NavigationRecords, EveryZoomFocusIsFresh) {
    const ZoomFocus a{12, 0.5}, b{12, 0.5}, copy = a;
    EXPECT_FALSE(a.id.isNil());
    EXPECT_NE(a, b);
    EXPECT_EQ(copy, a);
}
