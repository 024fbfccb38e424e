#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "model/StudioError.h"
#include "processing/Resampler.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

std::vector<float> sine(double freq, double rate, std::size_t n) { return test::sine(n, freq, 0.5, 0.0, rate); }

// Feeds a signal in uneven pieces and flushes.
std::vector<float> convert(Resampler& r, const std::vector<float>& in) {
    std::vector<float> out;
    std::vector<float>* outs[1] = {&out};
    std::size_t pos = 0, piece = 1;
    while (pos < in.size()) {
        const std::size_t n = std::min(piece, in.size() - pos);
        const float* ins[1] = {in.data() + pos};
        r.process(ins, n, outs);
        pos += n;
        piece = piece * 3 + 7;  // 1, 10, 37, … up to large blocks
    }
    r.flush(outs);
    return out;
}

}  // namespace

// Against the sine computed directly at the output rate: length, no delay, error at the
// quality's level; a flushed converter takes a fresh signal as if new.
TEST(Resampler, ConvertsRatesWithoutDelayAtBothQualities) {
    struct Case { double from, to; Resampler::Quality quality; double maxError; };
    const Case cases[] = {{44100, 48000, Resampler::Quality::high, 2e-5},
                          {96000, 48000, Resampler::Quality::high, 2e-5},
                          {48000, 44100, Resampler::Quality::veryHigh, 2e-6},
                          {48000, 96000, Resampler::Quality::veryHigh, 2e-6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " → " + std::to_string(c.to));
        const std::size_t n = 100'003;
        const std::vector<float> in = sine(997.0, c.from, n);
        Resampler r(c.from, c.to, 1, c.quality);
        const std::vector<float> out = convert(r, in);
        EXPECT_NEAR(static_cast<double>(out.size()), static_cast<double>(n) * c.to / c.from, 1.0);
        const std::vector<float> expected = sine(997.0, c.to, out.size());
        const std::size_t inner = out.size() - 4000;
        EXPECT_LT(test::maxDifference(std::span(out).subspan(2000, inner), std::span(expected).subspan(2000, inner)), c.maxError);
        EXPECT_EQ(convert(r, in), out);
    }
}

TEST(Resampler, EqualRatesPassThroughAndChannelsStaySeparate) {
    for (const double rate : {48000.0, 32000.0}) {
        const std::vector<float> a = sine(100, rate, 5000), b = sine(300, rate, 5000);
        Resampler r(rate, 48000, 2, Resampler::Quality::high);
        std::vector<float> l, rr;
        std::vector<float>* outs[2] = {&l, &rr};
        const float* ins[2] = {a.data(), b.data()};
        r.process(ins, a.size(), outs);
        r.flush(outs);
        ASSERT_EQ(l.size(), rr.size());
        if (rate == 48000.0) {
            EXPECT_EQ(l, a);
            EXPECT_EQ(rr, b);
        } else {
            // 100 Hz on the left, 300 Hz on the right: compare zero crossings per channel.
            auto crossings = [](const std::vector<float>& x) {
                int c = 0;
                for (std::size_t i = 1; i < x.size(); ++i) c += (x[i - 1] < 0) != (x[i] < 0);
                return c;
            };
            EXPECT_NEAR(crossings(l), 2 * 100 * 5000 / 32000, 2);
            EXPECT_NEAR(crossings(rr), 2 * 300 * 5000 / 32000, 2);
        }
    }
}

TEST(Resampler, RefusesImpossibleRates) {
    for (auto [rate, channels] : {std::pair{0.0, 2}, {std::nan(""), 2}, {44100.0, 0}})
        EXPECT_THROW(Resampler(rate, 48000, channels, Resampler::Quality::high), PlatformError) << rate << " " << channels;
}
