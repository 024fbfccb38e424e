// The live meter against libebur128's momentary and short-term loudness on the EBU Tech 3341
// signals, and the block, correlation and threshold rules.
#include <gtest/gtest.h>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdint>
#include <numbers>
#include <optional>
#include <vector>

#include "support/TestSignals.h"
#include "transport/LiveLoudnessMeter.h"

namespace tessoral {
namespace {

constexpr std::int64_t kBlock = LiveLoudnessMeter::kBlockFrames;

std::int64_t seconds(double s) { return static_cast<std::int64_t>(std::llround(s * 48000.0)); }

// Appends a sine of peak level `dbfs`, continuing the phase of what is already there.
void appendSine(std::vector<float>& x, double frequency, double dbfs, std::int64_t frames) {
    test::appendSine(x, static_cast<std::size_t>(frames), frequency, std::pow(10.0, dbfs / 20.0));
}

std::vector<float> sine(double frequency, double dbfs, std::int64_t frames) {
    std::vector<float> x;
    appendSine(x, frequency, dbfs, frames);
    return x;
}

// Case 9: 20 × (1.34 s at −20 dBFS, 1.66 s at −30 dBFS); short-term loudness −23 after 3 s.
std::vector<float> case9() {
    std::vector<float> x;
    for (int i = 0; i < 20; ++i) {
        appendSine(x, 1000.0, -20.0, seconds(1.34));
        appendSine(x, 1000.0, -30.0, seconds(1.66));
    }
    return x;
}

// Case 12: 10 × (0.18 s at −20 dBFS, 2.22 s at −30 dBFS); largest momentary loudness −23.
std::vector<float> case12() {
    std::vector<float> x;
    for (int i = 0; i < 10; ++i) {
        appendSine(x, 1000.0, -20.0, seconds(0.18));
        appendSine(x, 1000.0, -30.0, seconds(2.22));
    }
    return x;
}

// Feeds the same stereo signal block by block to the meter and to libebur128, and compares
// the figures after every block where both are defined. Returns the largest momentary and
// the short-term readings from 3 s on.
struct Comparison {
    double maxMomentary = -1e9;
    std::vector<double> shortTermAfter3s;
};

Comparison compareWithPeer(const std::vector<float>& left, const std::vector<float>& right) {
    LiveLoudnessMeter meter;
    ebur128_state* peer = ebur128_init(2, 48000, EBUR128_MODE_M | EBUR128_MODE_S);
    std::vector<float> interleaved(2 * kBlock);
    Comparison result;
    const auto blocks = static_cast<std::int64_t>(left.size()) / kBlock;
    for (std::int64_t b = 0; b < blocks; ++b) {
        const float* l = left.data() + b * kBlock;
        const float* r = right.data() + b * kBlock;
        meter.process(l, r, kBlock);
        for (std::int64_t i = 0; i < kBlock; ++i) {
            interleaved[static_cast<std::size_t>(2 * i)] = l[i];
            interleaved[static_cast<std::size_t>(2 * i + 1)] = r[i];
        }
        ebur128_add_frames_float(peer, interleaved.data(), kBlock);
        double m = 0.0, s = 0.0;
        ebur128_loudness_momentary(peer, &m);
        ebur128_loudness_shortterm(peer, &s);
        if (const auto ours = meter.momentary()) {
            EXPECT_NEAR(*ours, m, 0.1) << "momentary after block " << b;
            result.maxMomentary = std::max(result.maxMomentary, *ours);
        }
        // libebur128 averages over a full 3 s window from the start; ours over the blocks there are.
        if (b + 1 >= 30) {
            const auto ours = meter.shortTerm();
            EXPECT_TRUE(ours.has_value());
            if (ours) {
                EXPECT_NEAR(*ours, s, 0.1) << "short-term after block " << b;
                result.shortTermAfter3s.push_back(*ours);
            }
        }
    }
    ebur128_destroy(&peer);
    return result;
}

TEST(LiveLoudnessMeter, Tech3341Case9ShortTermMatchesPeerAndStaysAtMinus23) {
    const std::vector<float> x = case9();
    const Comparison c = compareWithPeer(x, x);
    ASSERT_FALSE(c.shortTermAfter3s.empty());
    for (double s : c.shortTermAfter3s) EXPECT_NEAR(s, -23.0, 0.1);
}

TEST(LiveLoudnessMeter, Tech3341Case12MomentaryMatchesPeerAndPeaksAtMinus23) {
    const std::vector<float> x = case12();
    const Comparison c = compareWithPeer(x, x);
    EXPECT_NEAR(c.maxMomentary, -23.0, 0.1);
}

TEST(LiveLoudnessMeter, FullScaleSineReadsZeroInBothChannelsAndMinusThreeInOne) {
    const std::vector<float> x = sine(997.0, 0.0, seconds(1.0));
    const std::vector<float> silence(x.size(), 0.0f);

    LiveLoudnessMeter both;
    both.process(x.data(), x.data(), static_cast<std::int64_t>(x.size()));
    ASSERT_TRUE(both.momentary());
    EXPECT_NEAR(*both.momentary(), 0.0, 0.1);
    // After 1 s the short-term figure averages the 10 blocks there are, not 30.
    ASSERT_TRUE(both.shortTerm());
    EXPECT_NEAR(*both.shortTerm(), 0.0, 0.1);
    EXPECT_NEAR(*both.correlation(), 1.0, 1e-12);

    LiveLoudnessMeter one;
    one.process(x.data(), silence.data(), static_cast<std::int64_t>(x.size()));
    ASSERT_TRUE(one.momentary());
    EXPECT_NEAR(*one.momentary(), -3.0, 0.1);
    EXPECT_NEAR(*one.shortTerm(), -3.0, 0.1);
    EXPECT_FALSE(one.correlation()) << "one channel silent";
}

TEST(LiveLoudnessMeter, LoudnessNeedsFourBlocksCorrelationOne) {
    const std::vector<float> x = sine(997.0, -6.0, 5 * kBlock);
    LiveLoudnessMeter meter;
    meter.process(x.data(), x.data(), kBlock - 1);
    EXPECT_FALSE(meter.correlation());
    meter.process(x.data() + kBlock - 1, x.data() + kBlock - 1, 1);
    EXPECT_TRUE(meter.correlation());
    meter.process(x.data() + kBlock, x.data() + kBlock, 2 * kBlock);
    EXPECT_EQ(meter.filled(), 3);
    EXPECT_FALSE(meter.momentary());
    EXPECT_FALSE(meter.shortTerm());
    meter.process(x.data() + 3 * kBlock, x.data() + 3 * kBlock, kBlock);
    EXPECT_TRUE(meter.momentary());
    EXPECT_TRUE(meter.shortTerm());

    meter.reset();
    EXPECT_EQ(meter.filled(), 0);
    EXPECT_FALSE(meter.momentary());
    EXPECT_FALSE(meter.correlation());
}

TEST(LiveLoudnessMeter, BlockSpansCalls) {
    const std::vector<float> x = sine(440.0, -12.0, kBlock + 1);
    LiveLoudnessMeter meter;
    meter.process(x.data(), x.data(), 4799);
    EXPECT_EQ(meter.filled(), 0);
    EXPECT_EQ(meter.partialFrames(), 4799);
    meter.process(x.data() + 4799, x.data() + 4799, 2);
    EXPECT_EQ(meter.filled(), 1);
    EXPECT_EQ(meter.partialFrames(), 1);

    // Fed in one call or in uneven pieces, the figures are the same.
    const std::vector<float> y = sine(997.0, -10.0, 10 * kBlock + 123);
    LiveLoudnessMeter whole, pieces;
    whole.process(y.data(), y.data(), static_cast<std::int64_t>(y.size()));
    std::int64_t done = 0, step = 1;
    while (done < static_cast<std::int64_t>(y.size())) {
        const std::int64_t n = std::min<std::int64_t>(step, static_cast<std::int64_t>(y.size()) - done);
        pieces.process(y.data() + done, y.data() + done, n);
        done += n;
        step = step * 3 + 7;
    }
    EXPECT_EQ(whole.filled(), pieces.filled());
    EXPECT_NEAR(*whole.momentary(), *pieces.momentary(), 1e-9);
    EXPECT_NEAR(*whole.shortTerm(), *pieces.shortTerm(), 1e-9);
}

TEST(LiveLoudnessMeter, CorrelationOfIdenticalOppositeAndUnrelatedChannels) {
    const std::vector<float> x = sine(997.0, -6.0, 4 * kBlock);
    std::vector<float> inverted(x.size()), quadrature = sine(997.0, -6.0, 4 * kBlock);
    for (std::size_t i = 0; i < x.size(); ++i) inverted[i] = -x[i];
    // A cosine of the same frequency: correlation about 0.
    for (std::size_t i = 0; i < x.size(); ++i)
        quadrature[i] = static_cast<float>(0.5 * std::cos(2.0 * std::numbers::pi * 997.0 * static_cast<double>(i) / 48000.0));

    LiveLoudnessMeter same, opposite, unrelated;
    same.process(x.data(), x.data(), static_cast<std::int64_t>(x.size()));
    opposite.process(x.data(), inverted.data(), static_cast<std::int64_t>(x.size()));
    unrelated.process(x.data(), quadrature.data(), static_cast<std::int64_t>(x.size()));
    EXPECT_DOUBLE_EQ(*same.correlation(), 1.0);
    EXPECT_DOUBLE_EQ(*opposite.correlation(), -1.0);
    EXPECT_NEAR(*unrelated.correlation(), 0.0, 0.01);
}

TEST(LiveLoudnessMeter, SilenceAndVeryQuietAudioHaveNoLoudness) {
    const std::vector<float> silence(static_cast<std::size_t>(10 * kBlock), 0.0f);
    LiveLoudnessMeter meter;
    meter.process(silence.data(), silence.data(), 10 * kBlock);
    EXPECT_FALSE(meter.momentary());
    EXPECT_FALSE(meter.shortTerm());
    EXPECT_FALSE(meter.correlation());

    const std::vector<float> quiet = sine(997.0, -75.0, 10 * kBlock);
    LiveLoudnessMeter q;
    q.process(quiet.data(), quiet.data(), 10 * kBlock);
    EXPECT_FALSE(q.momentary()) << "about −75 LUFS is below the −70 floor";
    EXPECT_FALSE(q.shortTerm());
}

TEST(LiveLoudnessMeter, NonFiniteSamplesDoNotPoisonLaterBlocks) {
    std::vector<float> x = sine(997.0, 0.0, 12 * kBlock);
    x[100] = std::numeric_limits<float>::quiet_NaN();
    x[200] = std::numeric_limits<float>::infinity();
    LiveLoudnessMeter meter;
    meter.process(x.data(), x.data(), 12 * kBlock);
    // The first block is lost; the newest blocks read normally again.
    ASSERT_TRUE(meter.momentary());
    EXPECT_NEAR(*meter.momentary(), 0.0, 0.1);
    EXPECT_FALSE(meter.shortTerm()) << "its mean still holds the broken block";
}

}  // namespace
}  // namespace tessoral
