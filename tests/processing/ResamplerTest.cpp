#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "model/StudioError.h"
#include "processing/Resampler.h"

using namespace tessoral;

namespace {

std::vector<float> sine(double freq, double rate, std::size_t n, double phase = 0.0) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * freq * static_cast<double>(i) / rate + phase));
    }
    return x;
}

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
    struct Case {
        double from, to;
        Resampler::Quality quality;
        double maxError;
    };
    const Case cases[] = {{44100, 48000, Resampler::Quality::high, 2e-5},
                          {96000, 48000, Resampler::Quality::high, 2e-5},
                          {48000, 44100, Resampler::Quality::veryHigh, 2e-6},
                          {48000, 96000, Resampler::Quality::veryHigh, 2e-6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        SCOPED_TRACE(c.to);
        const std::size_t n = 100'003;
        const std::vector<float> in = sine(997.0, c.from, n);
        Resampler r(c.from, c.to, 1, c.quality);
        const std::vector<float> out = convert(r, in);
        EXPECT_NEAR(static_cast<double>(out.size()), static_cast<double>(n) * c.to / c.from, 1.0);
        const std::vector<float> expected = sine(997.0, c.to, out.size());
        double worst = 0;
        for (std::size_t i = 2000; i + 2000 < out.size(); ++i) worst = std::max(worst, double(std::fabs(out[i] - expected[i])));
        EXPECT_LT(worst, c.maxError);
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
    EXPECT_THROW(Resampler(0, 48000, 2, Resampler::Quality::high), PlatformError);
    EXPECT_THROW(Resampler(std::nan(""), 48000, 2, Resampler::Quality::high), PlatformError);
    EXPECT_THROW(Resampler(44100, 48000, 0, Resampler::Quality::high), PlatformError);
}
