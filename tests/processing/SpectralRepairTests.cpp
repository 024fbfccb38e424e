// Spectral repair: attenuation and healing of masked time-frequency cells.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "model/SplitMix64.h"

#include "processing/SpectralRepair.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

// Power of x[from ..< from + length] between f0 and f1 Hz: a Hann-windowed DFT in double precision
// at every bin of the window's own resolution inside the band.
double bandPower(const std::vector<float>& x, std::size_t from, std::size_t length, double f0, double f1) {
    const double resolution = 48000.0 / static_cast<double>(length);
    double power = 0.0;
    for (auto k = static_cast<long>(std::ceil(f0 / resolution)); double(k) * resolution <= f1; ++k) {
        std::complex<double> sum = 0.0;
        for (std::size_t i = 0; i < length; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(length));
            sum += w * double(x[from + i]) * std::polar(1.0, -2.0 * std::numbers::pi * double(k) * double(i) / double(length));
        }
        power += std::norm(sum);
    }
    return power;
}

double dB(double powerRatio) { return 10.0 * std::log10(powerRatio); }

std::size_t at(double seconds) { return static_cast<std::size_t>(std::llround(seconds * 48000.0)); }

SpectralMask rectangle(double t0, double t1, double f0, double f1) {
    return SpectralMask{{{SpectralMask::Shape::rectangle({t0, t1}, {f0, f1}), false}}};
}

const AudioData& noiseClip() {
    static const AudioData audio(whiteNoise(at(3.0), 11, 0.5), whiteNoise(at(3.0), 12, 0.5));
    return audio;
}

}  // namespace

TEST(SpectralRepair, AttenuatesTheMaskedRegionAndNothingElse) {
    const AudioData& input = noiseClip();
    const AudioData out = SpectralRepair::repair(input, rectangle(1.0, 1.5, 1000.0, 2000.0), SpectralRepairMode::attenuate(20.0));
    ASSERT_EQ(out.frames(), input.frames());

    const std::vector<float> inL = input.left.toVector(), outL = out.left.toVector();
    const std::vector<float> inR = input.right.toVector(), outR = out.right.toVector();
    // Interior of the region: 1.1 … 1.4 s, 1.2 … 1.8 kHz.
    for (const auto& [in, o] : {std::pair{&inL, &outL}, std::pair{&inR, &outR}}) {
        const double drop = dB(bandPower(*o, at(1.1), at(0.3), 1200.0, 1800.0) / bandPower(*in, at(1.1), at(0.3), 1200.0, 1800.0));
        EXPECT_NEAR(drop, -20.0, 1.0);
        // The neighbouring bands and times keep their level.
        EXPECT_NEAR(dB(bandPower(*o, at(1.1), at(0.3), 3000.0, 4000.0) / bandPower(*in, at(1.1), at(0.3), 3000.0, 4000.0)), 0.0, 0.2);
        EXPECT_NEAR(dB(bandPower(*o, at(1.6), at(0.3), 1200.0, 1800.0) / bandPower(*in, at(1.6), at(0.3), 1200.0, 1800.0)), 0.0, 0.2);
    }

    // Active frames are those centred in 1.0 … 1.5 s; each reaches 1024 samples either side.
    const std::size_t first = at(1.0) - 1024, last = at(1.5) + 1024;
    std::size_t changedInside = 0;
    for (std::size_t i = 0; i < inL.size(); ++i) {
        if (i < first || i >= last) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(inL[i]), std::bit_cast<std::uint32_t>(outL[i])) << i;
            ASSERT_EQ(std::bit_cast<std::uint32_t>(inR[i]), std::bit_cast<std::uint32_t>(outR[i])) << i;
        } else if (inL[i] != outL[i]) {
            ++changedInside;
        }
    }
    EXPECT_GT(changedInside, (last - first) / 2);

    // A clip whose samples nobody else holds is repaired in place, with the same result.
    AudioData own(inL, inR);
    const float* storage = own.left.data();
    const AudioData inPlace = SpectralRepair::repair(std::move(own), rectangle(1.0, 1.5, 1000.0, 2000.0), SpectralRepairMode::attenuate(20.0));
    EXPECT_EQ(inPlace.left.data(), storage);
    EXPECT_EQ(inPlace, out);
    EXPECT_EQ(input.left.toVector(), inL);  // the shared input was not touched
}

TEST(SpectralRepair, AttenuationIsClamped) {
    const AudioData input = noiseClip().slice({0, static_cast<std::int64_t>(at(1.0))});
    const SpectralMask mask = rectangle(0.3, 0.5, 500.0, 900.0);
    auto run = [&](double dB) { return SpectralRepair::repair(input, mask, SpectralRepairMode::attenuate(dB)); };
    EXPECT_EQ(run(1.0), run(3.0));
    EXPECT_EQ(run(90.0), run(60.0));
    EXPECT_EQ(run(std::numeric_limits<double>::quiet_NaN()), run(40.0));
    EXPECT_NE(run(3.0), run(40.0));
}

TEST(SpectralRepair, NothingToDoReturnsTheInput) {
    const AudioData input = noiseClip().slice({0, static_cast<std::int64_t>(at(1.0))});
    const auto unchanged = [&](const SpectralMask& mask) {
        const AudioData out = SpectralRepair::repair(input, mask, SpectralRepairMode::attenuate(20.0));
        return out.left.sharesStorageWith(input.left) && out.right.sharesStorageWith(input.right);
    };
    EXPECT_TRUE(unchanged(SpectralMask{}));
    EXPECT_TRUE(unchanged(SpectralMask{{{SpectralMask::Shape::rectangle({0.2, 0.4}, {100.0, 900.0}), true}}}));
    EXPECT_TRUE(unchanged(rectangle(1.5, 2.0, 100.0, 900.0)));  // after the clip end
    EXPECT_TRUE(unchanged(rectangle(0.2, 0.4, 24100.0, 30000.0)));
    EXPECT_TRUE(unchanged(rectangle(0.2, 0.4, -500.0, -100.0)));
    EXPECT_TRUE(unchanged(rectangle(-1e300, -1e299, 100.0, 900.0)));
    EXPECT_TRUE(unchanged(rectangle(0.2, std::numeric_limits<double>::infinity(), 100.0, 900.0)));
    // Between two frame centres: no active frame.
    EXPECT_TRUE(unchanged(rectangle(0.3001, 0.3002, 100.0, 900.0)));
    EXPECT_EQ(SpectralRepair::repair(AudioData(), rectangle(0.0, 1.0, 0.0, 1000.0), SpectralRepairMode::heal()).frames(), 0);
    // A band reaching beyond 24 kHz is limited to the Nyquist bin and still works.
    const AudioData top = SpectralRepair::repair(input, rectangle(0.2, 0.4, 20000.0, 1e9), SpectralRepairMode::attenuate(30.0));
    EXPECT_NE(top, input);
    // Huge time bounds saturate instead of overflowing.
    const AudioData all = SpectralRepair::repair(input, rectangle(-1e300, 1e300, 100.0, 200.0), SpectralRepairMode::attenuate(30.0));
    EXPECT_EQ(all.frames(), input.frames());
}

TEST(SpectralRepair, HealingReplacesABurstByItsSurroundings) {
    std::vector<float> left = whiteNoise(at(3.0), 21, 0.1);
    std::vector<float> right = whiteNoise(at(3.0), 22, 0.1);
    const auto burst = test::sine(at(3.0), 3000.0, 0.5);
    for (std::size_t i = at(1.40); i < at(1.46); ++i) left[i] += burst[i], right[i] += burst[i];
    const AudioData input(left, right);
    const AudioData out = SpectralRepair::repair(input, rectangle(1.38, 1.48, 2500.0, 3500.0), SpectralRepairMode::heal());
    for (const auto& [in, o] : {std::pair{left, out.left.toVector()}, std::pair{right, out.right.toVector()}}) {
        const double before = bandPower(in, at(1.40), at(0.06), 2600.0, 3400.0);
        const double around = (bandPower(in, at(1.20), at(0.06), 2600.0, 3400.0) + bandPower(in, at(1.60), at(0.06), 2600.0, 3400.0)) / 2.0;
        const double after = bandPower(o, at(1.40), at(0.06), 2600.0, 3400.0);
        EXPECT_GT(dB(before / around), 20.0);  // the burst stands well out of the noise
        EXPECT_NEAR(dB(after / around), 0.0, 3.0);
    }
}

TEST(SpectralRepair, HealingWithoutCleanFramesSilencesTheCore) {
    const AudioData input(whiteNoise(at(0.5), 31, 0.3), whiteNoise(at(0.5), 32, 0.3));
    const AudioData out = SpectralRepair::repair(input, rectangle(-1.0, 1.0, 4000.0, 8000.0), SpectralRepairMode::heal());
    const std::vector<float> in = input.left.toVector(), o = out.left.toVector();
    EXPECT_LT(dB(bandPower(o, at(0.1), at(0.3), 4500.0, 7500.0) / bandPower(in, at(0.1), at(0.3), 4500.0, 7500.0)), -40.0);
    EXPECT_NEAR(dB(bandPower(o, at(0.1), at(0.3), 1000.0, 2000.0) / bandPower(in, at(0.1), at(0.3), 1000.0, 2000.0)), 0.0, 0.2);
}

TEST(SpectralRepair, Feather) {
    std::vector<float> single(5 * 5, 0.0f);
    single[2 * 5 + 2] = 1.0f;
    EXPECT_FLOAT_EQ(SpectralRepair::feather(single, 5, 5)[2 * 5 + 2], 0.5f);
    std::vector<float> block(5 * 5, 0.0f);
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 3; ++i) block[static_cast<std::size_t>(j * 5 + i)] = 1.0f;
    const auto w = SpectralRepair::feather(block, 5, 5);
    EXPECT_FLOAT_EQ(w[2 * 5 + 2], 1.0f);
    EXPECT_FLOAT_EQ(w[1 * 5 + 1], 0.5f);  // a corner sees 4 of 9: raised to the minimum
    EXPECT_FLOAT_EQ(w[1 * 5 + 2], 6.0f / 9.0f);
    EXPECT_FLOAT_EQ(w[0], 0.0f);
    // Bins beyond the grid count as masked, frames beyond it as unmasked.
    const std::vector<float> column(3, 1.0f);
    const auto edge = SpectralRepair::feather(column, 3, 1);
    EXPECT_FLOAT_EQ(edge[1], 1.0f);
    EXPECT_FLOAT_EQ(edge[0], 6.0f / 9.0f);
}
