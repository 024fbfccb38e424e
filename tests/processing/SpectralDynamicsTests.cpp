// The de-esser kernel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "model/Frames.h"
#include "processing/FFT.h"
#include "processing/SpectralDynamics.h"
#include "processing/SpectralTestSupport.h"
#include "support/TestSignals.h"

using namespace tessoral;
using namespace tessoral::spectraltest;

using test::maxDifference;

namespace {

// A 300 Hz voice-like tone throughout, with 0.1 s bursts of a 7 kHz "s" every half second.
std::vector<float> sibilantSpeech(std::size_t n, double burstAmplitude = 0.3) {
    std::vector<float> x(n, 0.0f);
    addSine(x, 300.0, 0.3);
    for (std::size_t start = 12000; start + 4800 <= n; start += 24000) addSine(x, 7000.0, burstAmplitude, start, start + 4800);
    return x;
}

// The kernel as it was first written, kept as the slow reference: the channel copied into a
// buffer with a frame of silence on each side, every frame analysed twice and resynthesised
// whether it changed or not, through the packed transform.
std::vector<float> referenceDeess(std::span<const float> samples, float sensitivity, float floor, double lowFrequency) {
    constexpr int kN = 1024, kHalf = 512, kHop = 256, kTop = 224;
    if (samples.empty()) return {};
    const double bin = lowFrequency / (48000.0 / kN);
    const int lowBin = std::isnan(bin) ? 0 : static_cast<int>(std::clamp(std::trunc(bin), 0.0, double(kTop)));
    FFT fft(kN);
    const std::vector<float> window = FFT::hann(kN);
    const std::size_t padded = samples.size() + 2 * kN;
    std::vector<float> input(padded, 0.0f);
    std::copy(samples.begin(), samples.end(), input.begin() + kN);
    std::vector<float> frame(kN), re(kHalf), im(kHalf);
    auto analyse = [&](std::size_t p) {
        for (int i = 0; i < kN; ++i) frame[i] = input[p + i] * window[i];
        fft.forward(frame, re, im);
    };
    const std::size_t frames = (padded - kN) / kHop + 1;
    std::vector<float> level(frames);
    double levelSum = 0.0;
    for (std::size_t f = 0; f < frames; ++f) {
        analyse(f * kHop);
        double energy = 0.0;
        for (int b = lowBin; b <= kTop; ++b) {
            const double m = b == 0 ? std::fabs(re[0]) : std::sqrt(double(re[b]) * re[b] + double(im[b]) * im[b]);
            energy += m * m;
        }
        level[f] = static_cast<float>(std::sqrt(energy));
        levelSum += level[f];
    }
    const float threshold = sensitivity * std::max(static_cast<float>(levelSum / double(frames)), 1e-6f);
    std::vector<float> weight(kTop + 1, 0.0f);
    for (int j = lowBin; j <= kTop; ++j) {
        const int d = std::min(j - lowBin, kTop - j);
        weight[j] = d < 2 ? static_cast<float>(d + 1) / 3.0f : 1.0f;
    }
    std::vector<float> out(padded, 0.0f);
    float previous = 1.0f;
    for (std::size_t f = 0; f < frames; ++f) {
        analyse(f * kHop);
        const float target = level[f] > threshold ? std::max(floor, threshold / level[f]) : 1.0f;
        const float g = target < previous ? target : 0.75f * previous + 0.25f * target;
        if (g < 0.999f) {
            for (int j = lowBin; j <= kTop; ++j) {
                const float factor = 1.0f - (1.0f - g) * weight[j];
                re[j] *= factor;
                if (j != 0) im[j] *= factor;
            }
        }
        fft.inverse(re, im, frame);
        for (int i = 0; i < kN; ++i) out[f * kHop + i] += frame[i] * window[i];
        previous = g;
    }
    std::vector<float> result(samples.size());
    for (std::size_t i = 0; i < result.size(); ++i) result[i] = out[kN + i] * (2.0f / 3.0f);
    return result;
}

// The kernel as it stood in one pass before it was split into steps, kept to hold the output to
// the bit: levels summed in frame order as they are measured, gains and corrections in one sweep.
std::vector<float> onePassDeess(std::span<const float> x, float sensitivity, float floor, double lowFrequency) {
    constexpr int kN = 1024, kHalf = 512, kHop = 256, kTop = 224;
    const auto n = static_cast<std::int64_t>(x.size());
    const int lowBin = static_cast<int>(std::clamp<std::int64_t>(truncSaturating(lowFrequency / (48000.0 / kN)), 0, kTop));
    FFT fft(kN);
    const std::vector<float> window = FFT::hann(kN);
    float* frame = fft.samples();
    float* bins = fft.bins();
    auto analyse = [&](std::size_t f) {
        const std::int64_t start = static_cast<std::int64_t>(f * kHop) - kN;
        for (int i = 0; i < kN; ++i) frame[i] = start + i >= 0 && start + i < n ? x[start + i] * window[i] : 0.0f;
        fft.forwardInPlace();
    };
    const std::size_t frames = (x.size() + kN) / kHop + 1;
    std::vector<float> level(frames);
    double levelSum = 0.0;
    for (std::size_t f = 0; f < frames; ++f) {
        analyse(f);
        double energy = 0.0;
        for (int b = lowBin; b <= kTop; ++b) energy += double(bins[2 * b]) * bins[2 * b] + double(bins[2 * b + 1]) * bins[2 * b + 1];
        level[f] = static_cast<float>(2.0 * std::sqrt(energy));
        levelSum += level[f];
    }
    const float threshold = sensitivity * std::max(static_cast<float>(levelSum / static_cast<double>(frames)), 1e-6f);
    std::vector<float> out(x.begin(), x.end());
    float previous = 1.0f;
    for (std::size_t f = 0; f < frames; ++f) {
        const float target = level[f] > threshold ? std::max(floor, threshold / level[f]) : 1.0f;
        const float g = target < previous ? target : 0.75f * previous + 0.25f * target;
        previous = g;
        if (!(g < 0.999f)) continue;
        analyse(f);
        std::fill(bins, bins + 2 * lowBin, 0.0f);
        std::fill(bins + 2 * (kTop + 1), bins + 2 * (kHalf + 1), 0.0f);
        for (int j = lowBin; j <= kTop; ++j) {
            const int d = std::min(j - lowBin, kTop - j);
            const float cut = (1.0f - g) * (d < 2 ? static_cast<float>(d + 1) / 3.0f : 1.0f);
            bins[2 * j] *= cut;
            bins[2 * j + 1] *= cut;
        }
        fft.inverseInPlace();
        const std::int64_t start = static_cast<std::int64_t>(f * kHop) - kN;
        for (std::int64_t i = std::max<std::int64_t>(-start, 0); i < std::min<std::int64_t>(n - start, kN); ++i)
            out[start + i] -= frame[i] * (window[i] * (2.0f / (3.0f * kN)));
    }
    return out;
}

// The channel de-essed in steps: the levels measured over `levelRanges` near-equal frame ranges,
// the output rendered over sample ranges that end at `cuts` (ascending, the last one the length),
// each step's ranges taken in a shuffled order.
std::vector<float> deessInRanges(std::span<const float> x, float sensitivity, float floor, double low,
                                 std::size_t levelRanges, const std::vector<std::size_t>& cuts, unsigned seed) {
    using SpectralDynamics::ChannelDeesser;
    ChannelDeesser deesser(x, sensitivity, floor, low);
    std::mt19937 rng(seed);
    std::vector<std::size_t> order(levelRanges);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (std::size_t i : order)
        deesser.measure(ChannelDeesser::partStart(deesser.frames(), levelRanges, i),
                        ChannelDeesser::partStart(deesser.frames(), levelRanges, i + 1));
    const bool handedOver = seed % 2 == 1;  // then the output is a buffer of NaNs, filled range by range
    if (!handedOver) deesser.copyInput();
    deesser.settle();
    if (handedOver) deesser.useOutput(std::vector<float>(x.size(), std::nanf("")));
    order.resize(cuts.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (std::size_t i : order) {
        if (handedOver) deesser.copyInput(i == 0 ? 0 : cuts[i - 1], cuts[i]);
        deesser.render(i == 0 ? 0 : cuts[i - 1], cuts[i]);
    }
    return deesser.take();
}

// Cuts every `size` samples of n.
std::vector<std::size_t> everyN(std::size_t n, std::size_t size) {
    std::vector<std::size_t> cuts;
    for (std::size_t c = size; c < n; c += size) cuts.push_back(c);
    cuts.push_back(n);
    return cuts;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace

// Levels measured in ranges and the output rendered in ranges, in any order, equal the one-pass
// result to the bit: ranges of one sample, of sizes around the hop and the frame, that end inside
// a frame's overlap, cut at random, more level ranges than frames; on a clip with every frame
// turned down, one with some, and a clip shorter than one frame.
TEST(SpectralDynamics, RangesInAnyOrderEqualTheOnePassResultToTheBit) {
    std::vector<float> speech = sibilantSpeech(2 * 48000 + 77);
    const std::vector<float> hiss = whiteNoise(speech.size(), 23, 0.02);
    for (std::size_t i = 0; i < speech.size(); ++i) speech[i] += hiss[i];
    const std::vector<float> shortClip = whiteNoise(700, 8, 0.5);
    struct Case {
        const std::vector<float>* x;
        float sensitivity, floor;
        double low;
    };
    const Case cases[] = {
        {&speech, 0.5f, 0.32f, 4500.0},
        {&speech, 0.05f, 0.1f, 0.0},  // every frame turned down
        {&shortClip, 0.05f, 0.1f, 4000.0},
        {&shortClip, 0.9f, 0.2f, 2000.0},
    };
    std::mt19937 rng(41);
    for (const Case& c : cases) {
        const std::vector<float>& x = *c.x;
        const std::size_t n = x.size();
        SCOPED_TRACE(testing::Message() << n << " samples, " << c.sensitivity << ", " << c.low);
        const std::vector<float> whole = SpectralDynamics::deessChannel(x, c.sensitivity, c.floor, c.low);
        ASSERT_GT(maxDifference(whole, x), 1e-3);  // the band is turned down somewhere
        EXPECT_TRUE(sameBits(whole, onePassDeess(x, c.sensitivity, c.floor, c.low)));

        std::vector<std::vector<std::size_t>> splits;
        for (std::size_t size : {std::size_t{1}, std::size_t{255}, std::size_t{256}, std::size_t{257},
                                 std::size_t{1023}, std::size_t{1024}, std::size_t{1025}, std::size_t{4099},
                                 std::size_t{33'333}})
            if (size > 1 || n < 5000) splits.push_back(everyN(n, size));
        for (int k = 0; k < 3; ++k) {  // random cuts, some a sample apart
            std::vector<std::size_t> cuts{n};
            for (int i = 0; i < 40; ++i) cuts.push_back(std::uniform_int_distribution<std::size_t>(1, n - 1)(rng));
            for (std::size_t i = 0; i < 3; ++i) cuts.push_back(std::min(n, cuts[i + 1] + 1));
            std::sort(cuts.begin(), cuts.end());
            cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
            splits.push_back(std::move(cuts));
        }
        const std::size_t frames = SpectralDynamics::ChannelDeesser(x, c.sensitivity, c.floor, c.low).frames();
        const std::size_t levelRanges[] = {1, 2, 7, frames - 1, frames, frames + 3};
        for (std::size_t i = 0; i < splits.size(); ++i) {
            const std::size_t ranges = levelRanges[i % std::size(levelRanges)];
            SCOPED_TRACE(testing::Message() << "split " << i << ", " << ranges << " level ranges");
            EXPECT_TRUE(sameBits(deessInRanges(x, c.sensitivity, c.floor, c.low, ranges, splits[i], 100 + i), whole));
        }
    }
}

TEST(SpectralDynamics, SameOutputAsTheReferenceKernel) {
    // Sibilance in part of the channel, all of it, or none; lengths shorter than a frame, not a
    // whole number of hops, and long; band edges at DC, inside and above the top; floors that
    // bind and that do not.
    auto noisy = [](std::size_t n, double burst) {
        std::vector<float> x = sibilantSpeech(n, burst);
        const std::vector<float> hiss = whiteNoise(n, 17, 0.02);
        for (std::size_t i = 0; i < n; ++i) x[i] += hiss[i];
        return x;
    };
    struct Case {
        std::vector<float> x;
        float sensitivity, floor;
        double low;
    };
    std::vector<float> hissOnly = whiteNoise(30000, 4, 0.3);
    const Case cases[] = {
        {noisy(2 * 48000 + 77, 0.3), 1.6f, 0.32f, 4500.0},
        {noisy(2 * 48000 + 77, 0.3), 0.4f, 0.06f, 2000.0},
        {noisy(48000, 0.5), 0.05f, 0.1f, 0.0},      // every frame turned down, DC in the band
        {noisy(48000, 0.5), 0.5f, 0.1f, 20000.0},   // the top bin alone
        {noisy(48000, 0.3), 100.0f, 0.1f, 4000.0},  // nothing turned down
        {hissOnly, 0.9f, 0.2f, 9000.0},
        {whiteNoise(1, 5, 0.5), 0.5f, 0.1f, 4000.0},
        {whiteNoise(700, 6, 0.5), 0.05f, 0.1f, 4000.0},
        {whiteNoise(1300, 7, 0.5), 0.05f, 0.1f, 4000.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x.size() << " samples, " << c.sensitivity << ", " << c.floor << ", " << c.low);
        const auto expected = referenceDeess(c.x, c.sensitivity, c.floor, c.low);
        const auto actual = SpectralDynamics::deessChannel(c.x, c.sensitivity, c.floor, c.low);
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_LT(maxDifference(actual, expected), 2e-6);
        EXPECT_TRUE(sameBits(actual, onePassDeess(c.x, c.sensitivity, c.floor, c.low)));
    }
    // The cases that turn a band down do change the signal (the comparison is not vacuous).
    EXPECT_GT(maxDifference(SpectralDynamics::deessChannel(cases[2].x, 0.05f, 0.1f, 0.0), cases[2].x), 0.05);
}

TEST(SpectralDynamics, EmptyAndShortInputs) {
    EXPECT_TRUE(SpectralDynamics::deessChannel({}, 0.5f, 0.1f, 4000.0).empty());
    for (std::size_t n : {std::size_t{1}, std::size_t{255}, std::size_t{1024}})
        EXPECT_EQ(SpectralDynamics::deessChannel(whiteNoise(n, 5, 0.5), 0.5f, 0.1f, 4000.0).size(), n);
    const std::vector<float> x = whiteNoise(255, 5, 0.5);
    SpectralDynamics::ChannelDeesser deesser(x, 0.5f, 0.1f, 4000.0);
    EXPECT_THROW(deesser.useOutput(std::vector<float>(254)), std::invalid_argument);
}

TEST(SpectralDynamics, NothingAboveTheThresholdLeavesTheSignal) {
    // A sensitivity far above every frame's band level, and a floor of 1: both must leave the
    // material as it was, however sibilant.
    const auto x = sibilantSpeech(48000);
    EXPECT_LT(maxDifference(x, SpectralDynamics::deessChannel(x, 100.0f, 0.1f, 4000.0)), 1e-5);
    EXPECT_LT(maxDifference(x, SpectralDynamics::deessChannel(x, 0.1f, 1.0f, 4000.0)), 1e-5);
    // Silence stays silence (the mean level is held above zero).
    const std::vector<float> silence(5000, 0.0f);
    EXPECT_EQ(SpectralDynamics::deessChannel(silence, 0.5f, 0.1f, 4000.0), silence);
}

TEST(SpectralDynamics, TurnsDownSibilanceOnly) {
    const std::size_t n = 2 * 48000;
    const auto x = sibilantSpeech(n);
    const auto y = SpectralDynamics::deessChannel(x, 0.5f, 0.1f, 4000.0);
    ASSERT_EQ(y.size(), n);
    // Inside the second burst (36000 … 40800), away from its attack.
    const double before = amplitudeAt(x, 7000.0, 37200, 2400);
    const double after = amplitudeAt(y, 7000.0, 37200, 2400);
    EXPECT_LT(dB(after / before), -10.0);
    // The voice below the band is untouched, inside and between bursts.
    for (std::size_t from : {std::size_t{37200}, std::size_t{24000}})
        EXPECT_NEAR(dB(amplitudeAt(y, 300.0, from, 4800) / amplitudeAt(x, 300.0, from, 4800)), 0.0, 0.05);
    // Between the bursts nothing is reduced once the release has settled.
    EXPECT_LT(maxDifference(std::span(x).subspan(26000, 8000), std::span(y).subspan(26000, 8000)), 1e-4);
}

TEST(SpectralDynamics, FloorBoundsTheReductionAndTheBandStartsAtTheLowerEdge) {
    const auto x = sibilantSpeech(2 * 48000);
    auto burstRatio = [&](float sensitivity, float floor, double low) {
        const auto y = SpectralDynamics::deessChannel(x, sensitivity, floor, low);
        return amplitudeAt(y, 7000.0, 37200, 2400) / amplitudeAt(x, 7000.0, 37200, 2400);
    };
    EXPECT_NEAR(burstRatio(0.05f, 0.5f, 4000.0), 0.5, 0.02);
    // With the band starting at 9 kHz the 7 kHz bursts are outside it and pass unchanged.
    EXPECT_NEAR(dB(burstRatio(0.5f, 0.1f, 9000.0)), 0.0, 0.05);
}

TEST(SpectralDynamics, LowerEdgeOutsideTheBandIsClamped) {
    const auto x = sibilantSpeech(48000);
    for (double low : {-500.0, 0.0, 10546.875, 20000.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()}) {
        const auto y = SpectralDynamics::deessChannel(x, 0.5f, 0.1f, low);
        ASSERT_EQ(y.size(), x.size());
        for (float v : y) ASSERT_TRUE(std::isfinite(v)) << low;
    }
    // Above the top the band is its last bin alone (10.5 kHz), far from the 7 kHz bursts.
    const auto high = SpectralDynamics::deessChannel(x, 0.5f, 0.1f, 20000.0);
    EXPECT_NEAR(dB(amplitudeAt(high, 7000.0, 13200, 2400) / amplitudeAt(x, 7000.0, 13200, 2400)), 0.0, 0.05);
}
