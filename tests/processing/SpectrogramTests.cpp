// Spectrogram images, the colour ramp and the spectral mask's rasteriser.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "model/SplitMix64.h"

#include "processing/SpectralAnalysis.h"
#include "processing/SpectralMask.h"
#include "support/TestSignals.h"

using namespace tessoral;

using test::sine;

TEST(Spectrogram, ColumnsFollowTheHopOfAtLeast256Frames) {
    for (int k : {0, 1, 7, 300}) {
        const auto n = static_cast<std::size_t>(1024 + 256 * k);
        const auto image = SpectralAnalysis::spectrogram(AudioData::mono(whiteNoise(n, 1, 0.3)), 224, 2200, {});
        ASSERT_TRUE(image) << k;
        EXPECT_EQ(image->width, k + 1) << k;
        EXPECT_EQ(image->height, 224);
        EXPECT_EQ(image->pixels.size(), static_cast<std::size_t>(4 * (k + 1) * 224));
    }
    // Shorter than one frame: padded, one column.
    EXPECT_EQ(SpectralAnalysis::spectrogram(AudioData::mono(whiteNoise(100, 2, 0.3)), 16, 2200, {})->width, 1);
    // A long clip is held to the column limit by a longer hop.
    const auto capped = SpectralAnalysis::spectrogram(AudioData::mono(whiteNoise(1024 + 256 * 300, 3, 0.3)), 16, 10, {});
    EXPECT_LE(capped->width, 10);
    EXPECT_GE(capped->width, 9);
}

TEST(Spectrogram, DegenerateRequestsGiveNoImage) {
    const AudioData audio = AudioData::mono(whiteNoise(4096, 4, 0.3));
    EXPECT_FALSE(SpectralAnalysis::spectrogram(AudioData(), 224, 2200, {}));
    // One row has no row step, no rows have nothing to show.
    EXPECT_FALSE(SpectralAnalysis::spectrogram(audio, 1, 2200, {}));
    EXPECT_FALSE(SpectralAnalysis::spectrogram(audio, 0, 2200, {}));
    EXPECT_FALSE(SpectralAnalysis::spectrogram(audio, -3, 2200, {}));
    EXPECT_FALSE(SpectralAnalysis::spectrogram(audio, 224, 0, {}));
    EXPECT_TRUE(SpectralAnalysis::spectrogram(audio, 2, 2200, {}));
    EXPECT_TRUE(SpectralAnalysis::rowBands(1, SpectralScale::log).empty());
}

TEST(Spectrogram, SilenceIsTheFloorColourForEveryRange) {
    const AudioData silent = AudioData::silence(30000);
    for (double range : {10.0, 66.0, 160.0, 500.0, std::numeric_limits<double>::quiet_NaN()}) {
        for (SpectralScale scale : {SpectralScale::log, SpectralScale::linear}) {
            const auto image = SpectralAnalysis::spectrogram(silent, 64, 2200, {scale, range});
            ASSERT_TRUE(image);
            for (std::size_t i = 0; i < image->pixels.size(); i += 4)
                ASSERT_EQ((std::array{image->pixels[i], image->pixels[i + 1], image->pixels[i + 2], image->pixels[i + 3]}),
                          (std::array<std::uint8_t, 4>{9, 11, 13, 255})) << i;
        }
    }
}

TEST(Spectrogram, RowBands) {
    const auto linear = SpectralAnalysis::rowBands(224, SpectralScale::linear);
    ASSERT_EQ(linear.size(), 224u);
    EXPECT_EQ(linear.back(), (SpectralAnalysis::RowBand{0, 3}));   // bins 0 … 2
    EXPECT_EQ(linear.front(), (SpectralAnalysis::RowBand{469, 470}));  // bin 469 only

    const auto log = SpectralAnalysis::rowBands(224, SpectralScale::log);
    // Bottom row: 45 Hz … 45·(22000/45)^(1/223) ≈ 46.3 Hz, all inside bin 0.
    EXPECT_EQ(log.back(), (SpectralAnalysis::RowBand{0, 1}));
    EXPECT_EQ(log.front(), (SpectralAnalysis::RowBand{469, 470}));
    // 1 kHz (bin 21.33) sits at position ln(1000/45)/ln(22000/45) ≈ 0.5007: row 111 from the top.
    const double y = std::log(1000.0 / 45.0) / std::log(22000.0 / 45.0);
    const int row = 223 - static_cast<int>(std::floor(y * 223));
    EXPECT_LE(log[static_cast<std::size_t>(row)].lo, 21);
    EXPECT_GT(log[static_cast<std::size_t>(row)].hi, 21);
    for (const auto& bands : {linear, log}) {
        for (std::size_t r = 0; r < bands.size(); ++r) {
            EXPECT_LT(bands[r].lo, bands[r].hi);
            EXPECT_LE(bands[r].hi, 512);
            if (r > 0) {
                EXPECT_LE(bands[r].lo, bands[r - 1].lo);
            }
        }
    }
}

TEST(Spectrogram, ToneLightsItsRowsAndTheRangeIsClamped) {
    std::vector<float> x = whiteNoise(48000, 5, 0.001);
    const std::vector<float> t = sine(48000, 1000.0, 0.5);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += t[i];
    const AudioData audio = AudioData::mono(std::move(x));
    const auto image = SpectralAnalysis::spectrogram(audio, 224, 2200, {SpectralScale::linear, 66.0});
    ASSERT_TRUE(image);
    // The tone's row (bins 21 and 22 at 46.875 Hz) shows the top colour; rows far above it are darker.
    const auto bands = SpectralAnalysis::rowBands(224, SpectralScale::linear);
    const int x0 = image->width / 2;
    int brightest = -1, best = -1;
    for (int r = 0; r < 224; ++r) {
        const auto px = image->pixel(x0, r);
        EXPECT_EQ(px[3], 255);
        if (px[0] + px[1] + px[2] > best) {
            best = px[0] + px[1] + px[2];
            brightest = r;
        }
    }
    EXPECT_GE(best, 250 + 245 + 225);  // within a step or two of the top colour
    EXPECT_LE(bands[static_cast<std::size_t>(brightest)].lo, 22);
    EXPECT_GE(bands[static_cast<std::size_t>(brightest)].hi, 22);
    EXPECT_LT(image->pixel(x0, 10)[0], 60);

    auto same = [&](double a, double b) {
        const auto ia = SpectralAnalysis::spectrogram(audio, 64, 200, {SpectralScale::log, a});
        const auto ib = SpectralAnalysis::spectrogram(audio, 64, 200, {SpectralScale::log, b});
        return ia->pixels == ib->pixels;
    };
    EXPECT_TRUE(same(10.0, 20.0));
    EXPECT_TRUE(same(500.0, 160.0));
    EXPECT_TRUE(same(std::numeric_limits<double>::quiet_NaN(), 66.0));
    EXPECT_TRUE(same(std::numeric_limits<double>::infinity(), 66.0));
    EXPECT_FALSE(same(20.0, 160.0));
}

// ---- spectral mask ----

namespace {

using Mask = SpectralMask;

Mask::Region add(Mask::Shape shape) { return {std::move(shape), false}; }
Mask::Region erase(Mask::Shape shape) { return {std::move(shape), true}; }

std::vector<double> ramp(std::size_t n, double step, double start = 0.0) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = start + step * static_cast<double>(i);
    return v;
}

int count(const std::vector<float>& grid) {
    int c = 0;
    for (float v : grid) c += v > 0.0f ? 1 : 0;
    return c;
}

}  // namespace

TEST(SpectralMask, EmptyAndEraseOnlyMasks) {
    const auto times = ramp(20, 0.01);
    const auto bins = ramp(30, 100.0);
    Mask empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.extent());
    EXPECT_EQ(count(empty.rasterize(times, bins)), 0);

    Mask eraseOnly{{erase(Mask::Shape::rectangle({0.0, 1.0}, {0.0, 5000.0}))}};
    EXPECT_TRUE(eraseOnly.isEmpty());
    EXPECT_EQ(count(eraseOnly.rasterize(times, bins)), 0);
    // Shapes without bounds do not make an extent either.
    Mask shapeless{{add(Mask::Shape::polygon({{0.0, 100.0}, {0.1, 200.0}}, SpectralScale::log)),
                    add(Mask::Shape::stroke({}, 0.1, 0.1, SpectralScale::log))}};
    EXPECT_TRUE(shapeless.isEmpty());
}

TEST(SpectralMask, RegionsApplyInOrder) {
    const auto times = ramp(11, 0.1);  // 0 … 1 s
    const auto bins = ramp(11, 100.0);  // 0 … 1000 Hz
    const auto whole = Mask::Shape::rectangle({0.2, 0.8}, {200.0, 800.0});
    const auto leftHalf = Mask::Shape::rectangle({0.0, 0.45}, {0.0, 1000.0});
    const auto grid = Mask{{add(whole), erase(leftHalf)}}.rasterize(times, bins);
    for (std::size_t i = 0; i < times.size(); ++i) {
        for (std::size_t k = 0; k < bins.size(); ++k) {
            const bool inside = i >= 5 && i <= 8 && k >= 2 && k <= 8;
            EXPECT_EQ(grid[i * bins.size() + k], inside ? 1.0f : 0.0f) << i << "," << k;
        }
    }
    const auto reversed = Mask{{erase(leftHalf), add(whole)}}.rasterize(times, bins);
    EXPECT_EQ(count(reversed), 7 * 7);
    // The extent ignores the erase region.
    const auto extent = Mask{{add(whole), erase(leftHalf)}}.extent();
    ASSERT_TRUE(extent);
    EXPECT_EQ(extent->time, (ClosedRange{0.2, 0.8}));
    // A rectangle between two frame times marks nothing.
    EXPECT_EQ(count(Mask{{add(Mask::Shape::rectangle({0.31, 0.39}, {0.0, 1000.0}))}}.rasterize(times, bins)), 0);
}

TEST(SpectralMask, StrokesAreEllipseSweptPaths) {
    const auto times = ramp(41, 0.025);  // 0 … 1 s
    const auto bins = ramp(23, 1000.0);  // 0 … 22 kHz
    const double rt = 0.1, rp = 0.2;
    const Mask dot{{add(Mask::Shape::stroke({{0.5, 11000.0}}, rt, rp, SpectralScale::linear))}};
    const auto grid = dot.rasterize(times, bins);
    for (std::size_t i = 0; i < times.size(); ++i) {
        for (std::size_t k = 0; k < bins.size(); ++k) {
            const double dt = (times[i] - 0.5) / rt;
            const double dp = (bins[k] - 11000.0) / 22000.0 / rp;
            const double d2 = dt * dt + dp * dp;
            if (std::fabs(d2 - 1.0) < 1e-9) continue;  // rounding decides exactly on the rim
            EXPECT_EQ(grid[i * bins.size() + k], d2 < 1.0 ? 1.0f : 0.0f) << i << "," << k;
        }
    }
    // Boundary included: frames exactly one time radius away on the point's own bin.
    const std::vector<double> edgeTimes{0.0, 0.5, 1.0};
    const std::vector<double> edgeBins{11000.0};
    const Mask wide{{add(Mask::Shape::stroke({{0.5, 11000.0}}, 0.5, 0.1, SpectralScale::linear))}};
    EXPECT_EQ(wide.rasterize(edgeTimes, edgeBins), (std::vector<float>{1.0f, 1.0f, 1.0f}));

    // A two-point stroke covers the segment between its points.
    const Mask line{{add(Mask::Shape::stroke({{0.2, 5000.0}, {0.8, 5000.0}}, 0.04, 0.01, SpectralScale::linear))}};
    const auto lineGrid = line.rasterize(times, bins);
    for (std::size_t i = 7; i <= 33; ++i) EXPECT_EQ(lineGrid[i * bins.size() + 5], 1.0f) << i;
    EXPECT_EQ(count(lineGrid), 27);

    EXPECT_EQ(count(Mask{{add(Mask::Shape::stroke({{0.5, 11000.0}}, 0.0, rp, SpectralScale::linear))}}.rasterize(times, bins)), 0);
    EXPECT_EQ(count(Mask{{add(Mask::Shape::stroke({{0.5, 11000.0}}, std::nan(""), rp, SpectralScale::linear))}}.rasterize(times, bins)), 0);
}

TEST(SpectralMask, LassoFillsByEvenOddRuleWhicheverWayDrawn) {
    const auto times = ramp(200, 0.005);
    const auto bins = ramp(512, 46.875);
    const std::vector<SpectralPoint> outline{{0.10, 100.0}, {0.35, 300.0}, {0.80, 150.0}, {0.95, 9000.0},
                                             {0.55, 4000.0}, {0.30, 15000.0}, {0.12, 2000.0}};
    std::vector<SpectralPoint> reversed(outline.rbegin(), outline.rend());
    for (SpectralScale scale : {SpectralScale::log, SpectralScale::linear}) {
        const auto a = Mask{{add(Mask::Shape::polygon(outline, scale))}}.rasterize(times, bins);
        const auto b = Mask{{add(Mask::Shape::polygon(reversed, scale))}}.rasterize(times, bins);
        EXPECT_GT(count(a), 1000);
        EXPECT_EQ(a, b);
    }
    // A point inside and one outside the outline (linear axis).
    const auto grid = Mask{{add(Mask::Shape::polygon(outline, SpectralScale::linear))}}.rasterize(times, bins);
    EXPECT_EQ(grid[100 * 512 + 64], 1.0f);   // 0.5 s, 3 kHz
    EXPECT_EQ(grid[100 * 512 + 400], 0.0f);  // 0.5 s, 18.75 kHz

    const std::vector<SpectralPoint> collinear{{0.1, 1000.0}, {0.5, 1000.0}, {0.9, 1000.0}};
    EXPECT_EQ(count(Mask{{add(Mask::Shape::polygon(collinear, SpectralScale::log))}}.rasterize(times, bins)), 0);
    // An outline with a point off the plane encloses nothing (and never sorts NaN crossings).
    std::vector<SpectralPoint> broken = outline;
    broken[3].frequency = std::nan("");
    EXPECT_EQ(count(Mask{{add(Mask::Shape::polygon(broken, SpectralScale::linear))}}.rasterize(times, bins)), 0);
}

TEST(SpectralMask, Indices) {
    const std::vector<double> a{0.0, 1.0, 2.0, 3.0};
    EXPECT_EQ(Mask::indices(a, 1.0, 2.0), (Mask::IndexRange{1, 3}));
    EXPECT_EQ(Mask::indices(a, 1.5, 1.6), (Mask::IndexRange{2, 2}));
    EXPECT_EQ(Mask::indices(a, 3.0, 1.0), (Mask::IndexRange{0, 0}));
    EXPECT_EQ(Mask::indices(a, -5.0, 10.0), (Mask::IndexRange{0, 4}));
    EXPECT_EQ(Mask::indices(a, std::nan(""), 1.0), (Mask::IndexRange{0, 0}));
    EXPECT_EQ(Mask::indices({}, 0.0, 1.0), (Mask::IndexRange{0, 0}));
    const std::vector<double> repeated{0.0, 1.0, 1.0, 1.0, 2.0};
    EXPECT_EQ(Mask::indices(repeated, 1.0, 1.0), (Mask::IndexRange{1, 4}));
}

TEST(SpectralMask, StrokeBoundsOnTheLogAxis) {
    const double y = std::log(1000.0 / 45.0) / std::log(22000.0 / 45.0);
    const auto b = Mask::Shape::stroke({{2.0, 1000.0}}, 0.25, 0.1, SpectralScale::log).bounds();
    ASSERT_TRUE(b);
    EXPECT_DOUBLE_EQ(b->time.lower, 1.75);
    EXPECT_DOUBLE_EQ(b->time.upper, 2.25);
    EXPECT_NEAR(b->frequency.lower, 45.0 * std::pow(22000.0 / 45.0, y - 0.1), 1e-9);
    EXPECT_NEAR(b->frequency.upper, 45.0 * std::pow(22000.0 / 45.0, y + 0.1), 1e-9);
    // Linear bounds never go below 0 Hz.
    const auto lin = Mask::Shape::stroke({{0.0, 100.0}}, 0.1, 0.1, SpectralScale::linear).bounds();
    EXPECT_EQ(lin->frequency.lower, 0.0);
}
