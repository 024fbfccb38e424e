#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "model/Automation.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::kInf, test::kNaN;

namespace {

double dbGain(double db) { return std::pow(10.0, db / 20.0); }

// The rule of fill written out plainly: a linear scan for the last point at or before t (so at the
// first point's time a step there already reads its last point).
double referenceFill(const Envelope& points, double t) {
    std::ptrdiff_t last = -1;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i].time <= t) last = static_cast<std::ptrdiff_t>(i);
    }
    if (last < 0) return points.front().value;
    if (last == static_cast<std::ptrdiff_t>(points.size()) - 1) return points.back().value;
    const AutomationPoint& a = points[last];
    const AutomationPoint& b = points[last + 1];
    return a.value + (t - a.time) / (b.time - a.time) * (b.value - a.value);
}

// The evaluation rule of value, cropped and replacing: at or before the first point's time the
// first point's value, else as fill.
double referenceValue(const Envelope& points, double t) {
    if (t <= points.front().time) return points.front().value;
    return referenceFill(points, t);
}

// Frame by frame through the plain rule.
std::vector<float> slowFill(const Envelope& points, FrameRange frames, bool decibels) {
    std::vector<float> out;
    for (std::int64_t f = frames.lower; f < frames.upper; ++f) {
        const double v = points.empty() ? 1.0 : referenceFill(points, static_cast<double>(f) / 48000.0);
        out.push_back(static_cast<float>(points.empty() ? 1.0 : decibels ? dbGain(v) : v));
    }
    return out;
}

std::vector<float> fastFill(const Envelope& points, FrameRange frames, bool decibels) {
    std::vector<float> out(static_cast<std::size_t>(frames.count()));
    Automation::fill(points, frames, decibels, out.data());
    return out;
}

// A sorted envelope with steps, equal neighbours, points on and between frame times.
Envelope randomEnvelope(test::SplitMix64& rng, std::size_t count) {
    Envelope points;
    double t = (rng.uniform() + 1.0) * 0.002;
    for (std::size_t i = 0; i < count; ++i) {
        const double kind = rng.uniform();
        if (kind < -0.6 && !points.empty()) {
            // same time as the previous point: a step
        } else if (kind < 0.0) {
            t = std::ceil(t * 48000.0 + (rng.uniform() + 1.0) * 200.0) / 48000.0;  // on a frame
        } else {
            t += (rng.uniform() + 1.0) * 0.004;
        }
        double v = std::round(rng.uniform() * 30.0);
        if (rng.uniform() > 0.5 && !points.empty()) v = points.back().value;  // a flat run
        points.push_back({t, v});
    }
    return points;
}

}  // namespace

TEST(AutomationFill, EmptyEnvelopeAndEmptyRange) {
    std::vector<float> out(6, -7.0f);
    Automation::fill({}, {10, 14}, true, out.data() + 1);
    EXPECT_EQ(out, (std::vector<float>{-7, 1, 1, 1, 1, -7}));
    Automation::fill({{0.0, -6.0}}, {5, 5}, true, out.data());
    Automation::fill({{0.0, -6.0}}, {9, 3}, true, out.data());
    EXPECT_EQ(out[0], -7.0f);
}

TEST(AutomationFill, KnownLevels) {
    for (float g : fastFill({{0.5, -6.0}}, {0, 48000}, true)) ASSERT_FLOAT_EQ(g, 0.5011872f);

    // Linear in dB: halfway from 0 to −20 dB is −10 dB.
    const auto ramp = fastFill({{0.0, 0.0}, {1.0, -20.0}}, {24000, 24001}, true);
    EXPECT_NEAR(ramp[0], 0.31622777, 1e-6);

    // A step: the frame at exactly the shared time takes the last point.
    const auto step = fastFill({{1.0, 0.0}, {1.0, -12.0}}, {47990, 48010}, true);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(step[k], 1.0f) << k;
    for (int k = 10; k < 20; ++k) EXPECT_FLOAT_EQ(step[k], 0.25118864f) << k;

    // Pan values are written as they are.
    const auto pan = fastFill({{0.0, -1.0}, {1.0, 1.0}}, {0, 48001}, false);
    EXPECT_EQ(pan.front(), -1.0f);
    EXPECT_FLOAT_EQ(pan[12000], -0.5f);
    EXPECT_EQ(pan.back(), 1.0f);
}

TEST(AutomationFill, MatchesFrameByFrameEvaluation) {
    test::SplitMix64 rng(42);
    for (int round = 0; round < 60; ++round) {
        const Envelope points = randomEnvelope(rng, 1 + static_cast<std::size_t>((rng.uniform() + 1.0) * 20));
        const double span = points.back().time * 48000.0;
        for (int k = 0; k < 4; ++k) {
            const auto a = static_cast<std::int64_t>((rng.uniform() + 0.9) * span * 0.6) - 50;
            const auto n = static_cast<std::int64_t>((rng.uniform() + 1.0) * span * 0.5) + 1;
            const FrameRange range{a, a + n};
            for (bool decibels : {true, false}) {
                const auto fast = fastFill(points, range, decibels);
                const auto slow = slowFill(points, range, decibels);
                for (std::size_t i = 0; i < fast.size(); ++i) {
                    ASSERT_FLOAT_EQ(fast[i], slow[i]) << "round " << round << " frame " << range.lower + i;
                }
            }
        }
    }
}

TEST(AutomationFill, StaysInsideItsRangeOnEnvelopesTheReaderRefuses) {
    const std::vector<Envelope> broken{
        {{2.0, 0.0}, {1.0, -6.0}, {3.0, -12.0}},
        {{0.0, 0.0}, {kNaN, -6.0}, {1.0, -12.0}},
        {{-kInf, 0.0}, {kInf, -6.0}},
        {{1e300, -6.0}, {-1e300, 0.0}},
        {{0.0, kNaN}, {0.01, kInf}},
    };
    for (const Envelope& points : broken) {
        for (FrameRange range : {FrameRange{0, 4000}, FrameRange{std::numeric_limits<std::int64_t>::max() - 64,
                                                                   std::numeric_limits<std::int64_t>::max()}}) {
            std::vector<float> out(static_cast<std::size_t>(range.count()) + 2, -7.0f);
            Automation::fill(points, range, true, out.data() + 1);
            EXPECT_EQ(out.front(), -7.0f);
            EXPECT_EQ(out.back(), -7.0f);
        }
    }
}

TEST(AutomationValue, FollowsTheEvaluationRule) {
    EXPECT_FALSE(Automation::value({}, 1.0));
    const Envelope steps{{1.0, -3.0}, {1.0, -6.0}, {2.0, -6.0}, {4.0, 6.0}, {4.0, 0.0}};
    EXPECT_EQ(Automation::value(steps, 0.0), -3.0);
    // At the first time the first of the points there counts; at a later shared time the last.
    EXPECT_EQ(Automation::value(steps, 1.0), -3.0);
    EXPECT_EQ(Automation::value(steps, 1.5), -6.0);
    EXPECT_EQ(Automation::value(steps, 3.0), 0.0);
    EXPECT_EQ(Automation::value(steps, 4.0), 0.0);
    EXPECT_EQ(Automation::value(steps, 100.0), 0.0);
    // Every point at one time: the first of them, at that time and before it; the last after it.
    const Envelope together{{2.0, -1.0}, {2.0, -2.0}, {2.0, -3.0}};
    EXPECT_EQ(Automation::value(together, 2.0), -1.0);
    EXPECT_EQ(Automation::value(together, 2.5), -3.0);

    test::SplitMix64 rng(3);
    for (int round = 0; round < 200; ++round) {
        const Envelope points = randomEnvelope(rng, 1 + round % 17);
        const double t = (rng.uniform() + 1.0) * points.back().time * 0.6 - 0.001;
        ASSERT_DOUBLE_EQ(*Automation::value(points, t), referenceValue(points, t));
        ASSERT_DOUBLE_EQ(*Automation::value(points, points[round % points.size()].time),
                         referenceValue(points, points[round % points.size()].time));
    }
}

TEST(AutomationIsValid, LimitsOrderAndRange) {
    const auto vol = Automation::kVolumeRange;
    Envelope full(2000, AutomationPoint{1.0, 0.0});
    EXPECT_TRUE(Automation::isValid(full, vol));
    full.push_back({1.0, 0.0});
    EXPECT_FALSE(Automation::isValid(full, vol));
    const std::pair<Envelope, bool> cases[] = {
        {{}, true}, {{{0.0, -60.0}, {480.0, 12.0}}, true}, {{{1.0, 0.0}, {1.0, -6.0}}, true},  // a step
        {{{0.0, 0.0}, {480.0001, 0.0}}, false}, {{{-0.001, 0.0}}, false}, {{{2.0, 0.0}, {1.0, 0.0}}, false},
        {{{1.0, 12.5}}, false}, {{{1.0, kNaN}}, false}, {{{kNaN, 0.0}}, false}};
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Automation::isValid(cases[i].first, vol), cases[i].second) << "case " << i;
    EXPECT_FALSE(Automation::isValid({{1.0, 1.5}}, Automation::kPanRange));
}

TEST(AutomationInsert, PlacesAfterEqualTimesAndRefusesBadPoints) {
    Envelope points{{0.0, 0.0}, {1.0, -1.0}, {1.0, -2.0}, {2.0, 0.0}};
    EXPECT_EQ(Automation::insert({1.0, -3.0}, points), 3u);
    EXPECT_EQ(points[3], (AutomationPoint{1.0, -3.0}));
    EXPECT_EQ(Automation::insert({-1.0, 0.0}, points), 0u);
    EXPECT_EQ(Automation::insert({9.0, 0.0}, points), 6u);
    EXPECT_EQ(Automation::insert({0.5, 0.0}, points), 2u);

    const Envelope before = points;
    for (AutomationPoint bad : {AutomationPoint{kNaN, 0.0}, {1.0, kNaN}, {kInf, 0.0}})
        EXPECT_FALSE(Automation::insert(bad, points));
    EXPECT_EQ(points, before);

    Envelope full(2000, AutomationPoint{1.0, 0.0});
    EXPECT_FALSE(Automation::insert({0.5, 0.0}, full));
    EXPECT_EQ(full.size(), 2000u);
    full.pop_back();
    EXPECT_EQ(Automation::insert({0.5, 0.0}, full), 0u);
}

TEST(AutomationCropped, RebasesAndInterpolatesTheEdges) {
    const Envelope points{{0.0, 0.0}, {2.0, -10.0}, {4.0, 0.0}};
    EXPECT_EQ(Automation::cropped(points, {1.0, 3.0}), (Envelope{{0.0, -5.0}, {1.0, -10.0}, {2.0, -5.0}}));
    EXPECT_TRUE(Automation::cropped({}, {1.0, 3.0}).empty());
    // A point exactly at lo stays beside the opening point.
    EXPECT_EQ(Automation::cropped(points, {2.0, 4.0}), (Envelope{{0.0, -10.0}, {0.0, -10.0}, {2.0, 0.0}}));
    // A window beyond the last point holds its level.
    EXPECT_EQ(Automation::cropped(points, {5.0, 6.0}), (Envelope{{0.0, 0.0}}));
    EXPECT_EQ(Automation::cropped(points, {0.0, 4.0}), points);
    // Windows that are no range cover nothing; a reversed one is the empty window at its start.
    for (TimeRange bad : {TimeRange{kNaN, 3.0}, {1.0, kNaN}, {-kInf, 3.0}})
        EXPECT_TRUE(Automation::cropped(points, bad).empty());
    EXPECT_EQ(Automation::cropped(points, {1.0, 0.5}), (Envelope{{0.0, -5.0}, {0.0, -5.0}}));
    // A step at the first time: a window ending there closes on the first point's value.
    const Envelope step{{1.0, -3.0}, {1.0, -9.0}, {3.0, 0.0}};
    EXPECT_EQ(Automation::cropped(step, {0.0, 1.0}), (Envelope{{1.0, -3.0}, {1.0, -9.0}, {1.0, -3.0}}));
    EXPECT_EQ(Automation::cropped(step, {1.0, 1.0}), (Envelope{{0.0, -3.0}, {0.0, -9.0}, {0.0, -3.0}}));
}

TEST(AutomationReplacing, DeletionLeavesAStepAndInsertionHoldsTheLevel) {
    const Envelope points{{0.0, 0.0}, {4.0, -8.0}};
    EXPECT_EQ(Automation::replacing(points, {1.0, 3.0}, 0.0),
              (Envelope{{0.0, 0.0}, {1.0, -2.0}, {1.0, -6.0}, {2.0, -8.0}}));
    EXPECT_TRUE(Automation::replacing({}, {1.0, 3.0}, 0.0).empty());
    EXPECT_EQ(Automation::replacing(points, {2.0, 2.0}, 1.0),
              (Envelope{{0.0, 0.0}, {2.0, -4.0}, {3.0, -4.0}, {5.0, -8.0}}));
    // Past the last point nothing needs holding: the tail level simply moves on.
    EXPECT_EQ(Automation::replacing(points, {6.0, 6.0}, 1.0), (Envelope{{0.0, 0.0}, {4.0, -8.0}, {7.0, -8.0}}));
    // A deletion starting at a step on the first time steps from that time's first value.
    const Envelope step{{1.0, -3.0}, {1.0, -9.0}, {3.0, 0.0}};
    EXPECT_EQ(Automation::replacing(step, {1.0, 2.0}, 0.0),
              (Envelope{{1.0, -3.0}, {1.0, -9.0}, {1.0, -3.0}, {1.0, -4.5}, {2.0, 0.0}}));
}

TEST(AutomationReplacing, StretchKeepsTheShape) {
    const Envelope points{{0.0, 0.0}, {4.0, -8.0}};
    const Envelope out = Automation::replacing(points, {1.0, 3.0}, 4.0);
    EXPECT_EQ(out, (Envelope{{0.0, 0.0}, {1.0, -2.0}, {5.0, -6.0}, {6.0, -8.0}}));
    // The replaced second 1…3 now spans 1…5; before it nothing moves, after it all moves by 2 s.
    for (double t : {1.5, 2.0, 2.9}) {
        EXPECT_NEAR(*Automation::value(out, 1.0 + (t - 1.0) * 2.0), referenceValue(points, t), 1e-12);
    }
    EXPECT_EQ(*Automation::value(out, 0.5), referenceValue(points, 0.5));
    EXPECT_EQ(*Automation::value(out, 5.5), referenceValue(points, 3.5));
}

TEST(AutomationReplacing, ArgumentsThatPlaceNoEdit) {
    const Envelope points{{0.0, 0.0}, {4.0, -8.0}};
    for (const auto& [range, length] : {std::pair{TimeRange{kNaN, 2.0}, 0.0}, {{1.0, kInf}, 0.0}, {{1.0, 2.0}, kNaN},
                                        {{1.0, 2.0}, -1.0}})
        EXPECT_EQ(Automation::replacing(points, range, length), points);
    // A range reaching before the clip counts from the clip start; every time stays ≥ 0.
    const Envelope out = Automation::replacing(points, {-1.0, 1.0}, 0.5);
    EXPECT_TRUE(Automation::isValid(out, Automation::kVolumeRange));
    EXPECT_EQ(out, Automation::replacing(points, {0.0, 1.0}, 0.5));
}

TEST(AutomationReplacing, FullEnvelopeStaysLoadable) {
    // 2000 points, alternating levels except for a flat stretch whose inner points carry nothing.
    Envelope points;
    for (int i = 0; i < 2000; ++i) {
        const bool flat = i >= 1000 && i <= 1010;
        points.push_back({i * 0.2, flat ? -5.0 : (i % 2 ? -10.0 : 0.0)});
    }
    for (double length : {0.0, 0.3}) {
        // The edit lies between the first two points, so its edges add points.
        const double lo = 0.05, hi = length > 0 ? 0.05 : 0.15;
        const Envelope out = Automation::replacing(points, {lo, hi}, length);
        EXPECT_EQ(out.size(), 2000u);
        EXPECT_TRUE(Automation::isValid(out, Automation::kVolumeRange));
        // Away from the edit the envelope is the old one, shifted by the change of length.
        const double shift = length - (hi - lo);
        for (double t = 0.3; t < 399.0; t += 0.0731) {
            ASSERT_NEAR(*Automation::value(out, t + shift), referenceValue(points, t), 1e-9) << t;
        }
        EXPECT_DOUBLE_EQ(*Automation::value(out, 0.04), referenceValue(points, 0.04));
    }
}
