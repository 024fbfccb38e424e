#include <gtest/gtest.h>

#include <random>
#include <string>

#include "model/Localization.h"
#include "model/TimeFormat.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::kInf, test::kNaN;

namespace {

const BeatGrid k120{120.0, 4};

std::string fmt(double t, TimeFormat f, BeatGrid g = k120) { return TimeFormatter::format(t, f, g); }

long long toInt(const std::string& s) { return std::stoll(s); }

}  // namespace

TEST(TimeFormatter, FormatsEachFormat) {
    struct Case {
        double time;
        TimeFormat format;
        const char* text;
        BeatGrid grid = k120;
    };
    using enum TimeFormat;
    const Case cases[] = {
        {75.5, clock, "01:15.500"}, {0.0016, clock, "00:00.002"},  // rounded, not truncated
        {480, clock, "08:00.000"},  {3600, clock, "60:00.000"},    // minutes do not wrap
        {75.5, seconds, "75.500"},  {0.05, seconds, "0.050"},      {1, samples, "48000"}, {480, samples, "23040000"},
        {0, bars, "1:1.00"},        {2.25, bars, "2:1.50"},        {2.0, bars, "2:1.00", {90, 3}},  // beats of 2/3 s
        {0.255, bars, "1:1.51"},    {0.005, bars, "1:1.01"},       // hundredths keep two digits
    };
    for (const auto& c : cases) EXPECT_EQ(fmt(c.time, c.format, c.grid), c.text) << c.time;
}

TEST(TimeFormatter, NegativeAndNonFiniteTimesShowZero) {
    for (double t : {-3.0, kNaN, kInf, -kInf, -0.0}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(fmt(t, TimeFormat::clock), "00:00.000");
        EXPECT_EQ(fmt(t, TimeFormat::seconds), "0.000");
        EXPECT_EQ(fmt(t, TimeFormat::samples), "0");
        EXPECT_EQ(fmt(t, TimeFormat::bars), "1:1.00");
        EXPECT_EQ(TimeFormatter::duration(t, TimeFormat::bars, k120), "0:0.00");
        EXPECT_EQ(TimeFormatter::rulerLabel(t, 2, TimeFormat::bars, k120), "1");
    }
    EXPECT_EQ(TimeFormatter::rulerLabel(-3, 1, TimeFormat::seconds, k120), "0");
    EXPECT_EQ(TimeFormatter::rulerLabel(kNaN, 1, TimeFormat::seconds, k120), "0");
}

// Times whose millisecond, frame or hundredth counts exceed 64 bits saturate instead of
// reaching an undefined conversion.
TEST(TimeFormatter, HugeTimesSaturate) {
    const double huge = 1e300;
    EXPECT_EQ(fmt(huge, TimeFormat::samples), "9223372036854775807");
    EXPECT_EQ(fmt(huge, TimeFormat::seconds), "9223372036854775.807");
    const std::string clock = fmt(huge, TimeFormat::clock);
    EXPECT_EQ(clock, "153722867280912:55.807");
    const std::string bars = fmt(huge, TimeFormat::bars);  // h = 2^63 − 1 hundredths, 4 beats a bar
    EXPECT_EQ(bars, "23058430092136940:3.07");
    EXPECT_EQ(TimeFormatter::duration(huge, TimeFormat::bars, k120), "23058430092136939:2.07");
    // A tempo slow enough to overflow nothing still formats normally.
    EXPECT_EQ(fmt(1e20, TimeFormat::bars, {1e-300, 4}), "1:1.00");
}

TEST(TimeFormatter, ZeroOrNonFiniteTempoAndBadMetreUseSafeValues) {
    for (double tempo : {0.0, -0.0, kNaN, kInf, -kInf, 1e-310}) {
        SCOPED_TRACE(tempo);
        const BeatGrid bad{tempo, 4};
        for (double t : {0.0, 2.25, 7.3, 480.0}) {
            EXPECT_EQ(fmt(t, TimeFormat::bars, bad), fmt(t, TimeFormat::bars));
            EXPECT_EQ(TimeFormatter::duration(t, TimeFormat::bars, bad),
                      TimeFormatter::duration(t, TimeFormat::bars, k120));
            EXPECT_EQ(TimeFormatter::rulerLabel(t, 0.5, TimeFormat::bars, bad),
                      TimeFormatter::rulerLabel(t, 0.5, TimeFormat::bars, k120));
        }
    }
    for (long long perBar : {0LL, -3LL, std::numeric_limits<long long>::min()}) {
        SCOPED_TRACE(perBar);
        const BeatGrid bad{120, perBar};
        EXPECT_EQ(fmt(5.0, TimeFormat::bars, bad), "11:1.00");  // 10 beats, one beat a bar
        EXPECT_EQ(TimeFormatter::duration(5.25, TimeFormat::bars, bad), "10:0.50");
        EXPECT_EQ(TimeFormatter::rulerLabel(5.0, 0.5, TimeFormat::bars, bad), "11");
    }
    // A negative tempo is not guarded: the counts go negative with C's truncating division.
    EXPECT_EQ(fmt(0.75, TimeFormat::bars, {-120, 4}), "1:0.-50");
}

TEST(TimeFormatter, Durations) {
    EXPECT_EQ(TimeFormatter::duration(0, TimeFormat::bars, k120), "0:0.00");
    EXPECT_EQ(TimeFormatter::duration(0.75, TimeFormat::bars, k120), "0:1.50");  // one and a half beats
    EXPECT_EQ(TimeFormatter::duration(2.25, TimeFormat::bars, k120), "1:0.50");
    for (double t : {0.0, 0.0016, 75.5, 3600.0, -1.0}) {
        EXPECT_EQ(TimeFormatter::duration(t, TimeFormat::clock, k120), fmt(t, TimeFormat::clock));
        EXPECT_EQ(TimeFormatter::duration(t, TimeFormat::samples, k120), fmt(t, TimeFormat::samples));
    }
    EXPECT_EQ(TimeFormatter::duration(2, TimeFormat::seconds, {0, 0}), "2.000 с");

    const auto table = Localization::table(AppLanguage::english,
                                           std::filesystem::path(TESSORAL_SOURCE_DIR) / "resources/Localization");
    Localization::use(AppLanguage::english, table);
    EXPECT_EQ(TimeFormatter::duration(2, TimeFormat::seconds, k120), "2.000 s");
    Localization::use(AppLanguage::russian, {});
}

TEST(TimeFormatter, RulerLabels) {
    struct Case {
        double time, step;
        TimeFormat format;
        const char* text;
        BeatGrid grid = k120;
    };
    using enum TimeFormat;
    const Case cases[] = {
        {12, 5, seconds, "12"}, {1.5, 0.5, seconds, "1.5"}, {1.5, 0.05, seconds, "1.50"}, {0.1, 0.1, seconds, "0.1"},
        {75.5, 10, clock, "01:15.500"}, {1, 10, samples, "48000"},
        {2.25, 0.25, bars, "2:1.50"},  // finer than a beat
        {2.25, 0.5, bars, "2.1"},      // one beat
        {2.0, 2.0, bars, "2"},         // one bar
        {2.5, 2.0, bars, "2.2"},       // off the downbeat
        {6.5, 1.0, bars, "4.2"},
        // 3/4 at 90 BPM: a bar of 2 s; labels at whole bars show the bar alone, within a tolerance.
        {4.0, 2.0, bars, "3", {90, 3}}, {4.0, 2.0 - 1e-10, bars, "3", {90, 3}},
    };
    for (const auto& c : cases) EXPECT_EQ(TimeFormatter::rulerLabel(c.time, c.step, c.format, c.grid), c.text) << c.time;
}

// Reading the texts back recovers the time within their resolution, over many times and grids.
TEST(TimeFormatter, TextsReadBackToTheTime) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> times(0.0, 3700.0);
    const BeatGrid grids[] = {{120, 4}, {90, 3}, {133.3, 7}, {20, 1}, {300, 16}};
    for (int i = 0; i < 4000; ++i) {
        const double t = times(rng);
        const std::string clock = fmt(t, TimeFormat::clock);
        const auto colon = clock.find(':');
        ASSERT_GE(colon, 2u);
        ASSERT_EQ(clock.size(), colon + 7);
        const double clockSeconds =
            toInt(clock.substr(0, colon)) * 60.0 + std::stod(clock.substr(colon + 1));
        ASSERT_NEAR(clockSeconds, t, 0.0005 + 1e-9) << clock;
        ASSERT_LT(toInt(clock.substr(colon + 1, 2)), 60) << clock;
        ASSERT_NEAR(std::stod(fmt(t, TimeFormat::seconds)), t, 0.0005 + 1e-9);
        ASSERT_NEAR(toInt(fmt(t, TimeFormat::samples)) / 48000.0, t, 0.5 / 48000 + 1e-12);

        const BeatGrid& g = grids[i % 5];
        const std::string bars = fmt(t, TimeFormat::bars, g);
        const auto c = bars.find(':'), d = bars.find('.');
        ASSERT_EQ(bars.size(), d + 3) << bars;
        const long long bar = toInt(bars.substr(0, c)), beat = toInt(bars.substr(c + 1, d - c - 1));
        ASSERT_GE(beat, 1);
        ASSERT_LE(beat, g.beatsPerBar);
        const double beats = (bar - 1) * g.beatsPerBar + (beat - 1) + toInt(bars.substr(d + 1)) / 100.0;
        ASSERT_NEAR(beats * 60.0 / g.tempo, t, 0.005 * 60.0 / g.tempo + 1e-9) << bars;
    }
}
