#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/ChannelOps.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

constexpr double kPi = std::numbers::pi;

using test::maxDifference;
using test::plus;
using test::rms;
using test::sine;

std::string refusal(const ChannelOperation& op, const AudioData& audio, FrameRange range) {
    return test::refusal([&] { ChannelOps::apply(op, audio, range); });
}

// Centre extraction written out in double precision with direct DFTs of the band's bins only:
// an untouched bin gives its input back, so the output is the input plus the windowed, normalised
// inverse of each changed bin's difference.
std::pair<std::vector<double>, std::vector<double>> referenceCenter(const std::vector<float>& left,
                                                                    const std::vector<float>& right, std::size_t loBin,
                                                                    std::size_t hiBin, bool keep) {
    constexpr std::size_t N = 4096, hop = 1024;
    const auto n = static_cast<std::int64_t>(left.size());
    std::vector<double> w(N), norm(hop);
    std::vector<std::complex<double>> e(N);  // e^(2πik/N)
    for (std::size_t k = 0; k < N; ++k) {
        w[k] = 0.5 - 0.5 * std::cos(2.0 * kPi * double(k) / N);
        e[k] = std::polar(1.0, 2.0 * kPi * double(k) / N);
    }
    for (std::size_t j = 0; j < hop; ++j)
        for (std::size_t q = 0; q < 4; ++q) norm[j] += w[j + q * hop] * w[j + q * hop];

    std::vector<double> outL(left.begin(), left.end()), outR(right.begin(), right.end());
    std::vector<double> fl(N), fr(N), dl(N), dr(N);
    for (std::int64_t t = -3072; t < n; t += hop) {
        for (std::size_t m = 0; m < N; ++m) {
            const std::int64_t p = t + std::int64_t(m);
            fl[m] = p >= 0 && p < n ? left[p] * w[m] : 0.0;
            fr[m] = p >= 0 && p < n ? right[p] * w[m] : 0.0;
        }
        std::fill(dl.begin(), dl.end(), 0.0);
        std::fill(dr.begin(), dr.end(), 0.0);
        for (std::size_t k = loBin; k <= hiBin; ++k) {
            std::complex<double> L, R;
            for (std::size_t m = 0; m < N; ++m) {
                L += fl[m] * std::conj(e[k * m % N]);
                R += fr[m] * std::conj(e[k * m % N]);
            }
            const double energy = std::norm(L) + std::norm(R);
            const double s = energy <= 1e-20 / 4.0 ? 0.0 : std::max(0.0, 2.0 * (L * std::conj(R)).real() / energy);
            const std::complex<double> M = 0.5 * (L + R) * std::pow(s, 8);
            const std::complex<double> deltaL = keep ? M - L : -M, deltaR = keep ? M - R : -M;
            for (std::size_t m = 0; m < N; ++m) {
                dl[m] += 2.0 / N * (deltaL * e[k * m % N]).real();
                dr[m] += 2.0 / N * (deltaR * e[k * m % N]).real();
            }
        }
        for (std::size_t m = 0; m < N; ++m) {
            const std::int64_t p = t + std::int64_t(m);
            if (p < 0 || p >= n) continue;
            outL[p] += dl[m] * w[m] / norm[p % hop];
            outR[p] += dr[m] * w[m] / norm[p % hop];
        }
    }
    return {outL, outR};
}

}  // namespace

TEST(ChannelOps, RangesOutsideTheClipAreRefused) {
    const AudioData a = test::noise(100, 0.5f);
    const std::string message = L("Выделите фрагмент внутри выбранного клипа.");
    for (const auto& op : {ChannelOperation::swap(), ChannelOperation::width(0.5),
                           ChannelOperation::width(std::numeric_limits<double>::quiet_NaN()),
                           ChannelOperation::center({CenterMode::keep, 20, 24000})}) {
        EXPECT_EQ(refusal(op, a, {0, 0}), message);
        EXPECT_EQ(refusal(op, a, {-1, 10}), message);
        EXPECT_EQ(refusal(op, a, {90, 101}), message);
        EXPECT_EQ(refusal(op, a, {50, 40}), message);
        EXPECT_EQ(refusal(op, AudioData(), {0, 0}), message);
    }
    EXPECT_EQ(refusal(ChannelOperation::swap(), a, {0, 100}), "");
}

TEST(ChannelOps, SimpleOperationsChangeOnlyTheRange) {
    const AudioData a = test::noise(1000, 0.8f, 3);
    const FrameRange range{100, 900};
    auto check = [&](const ChannelOperation& op, auto expectL, auto expectR) {
        const AudioData out = ChannelOps::apply(op, a, range);
        ASSERT_EQ(out.frames(), a.frames());
        for (std::size_t i = 0; i < 1000; ++i) {
            const bool inside = i >= 100 && i < 900;
            const float l = a.left[i], r = a.right[i];
            EXPECT_EQ(out.left[i], inside ? expectL(l, r) : l) << op.title() << " frame " << i;
            EXPECT_EQ(out.right[i], inside ? expectR(l, r) : r) << op.title() << " frame " << i;
        }
    };
    check(ChannelOperation::swap(), [](float, float r) { return r; }, [](float l, float) { return l; });
    check(ChannelOperation::mono(), [](float l, float r) { return 0.5f * (l + r); }, [](float l, float r) { return 0.5f * (l + r); });
    check(ChannelOperation::leftToBoth(), [](float l, float) { return l; }, [](float l, float) { return l; });
    check(ChannelOperation::rightToBoth(), [](float, float r) { return r; }, [](float, float r) { return r; });
    check(ChannelOperation::invertLeft(), [](float l, float) { return -l; }, [](float, float r) { return r; });
    check(ChannelOperation::width(0.5), [](float l, float r) { return 0.5f * (l + r) + (l - r) * 0.25f; },
          [](float l, float r) { return 0.5f * (l + r) - (l - r) * 0.25f; });
}

TEST(ChannelOps, MonoMaterialSharingOneArrayKeepsTheOtherChannel) {
    const AudioData mono = AudioData::mono({0.1f, 0.2f, 0.3f, 0.4f});
    ASSERT_TRUE(mono.left.sharesStorageWith(mono.right));
    const AudioData inverted = ChannelOps::apply(ChannelOperation::invertLeft(), mono, {0, 4});
    EXPECT_EQ(inverted.left.toVector(), (std::vector<float>{-0.1f, -0.2f, -0.3f, -0.4f}));
    EXPECT_EQ(inverted.right.toVector(), (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));
    EXPECT_EQ(mono.left.toVector(), (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));  // the input is a value
}

TEST(ChannelOps, WidthFactorsAreClampedAndNonFiniteOnesChangeNothing) {
    const AudioData a = test::noise(500, 0.5f, 4);
    const FrameRange all{0, 500};
    for (double w : {1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
        const AudioData out = ChannelOps::apply(ChannelOperation::width(w), a, all);
        EXPECT_TRUE(out.left.sharesStorageWith(a.left) && out.right.sharesStorageWith(a.right)) << w;
    }
    EXPECT_EQ(ChannelOps::apply(ChannelOperation::width(3.0), a, all), ChannelOps::apply(ChannelOperation::width(2.0), a, all));
    const AudioData mono = ChannelOps::apply(ChannelOperation::width(-1.0), a, all);
    EXPECT_EQ(mono, ChannelOps::apply(ChannelOperation::width(0.0), a, all));
    EXPECT_EQ(mono.left, mono.right);
    const AudioData doubled = ChannelOps::apply(ChannelOperation::width(2.0), a, all);
    EXPECT_FLOAT_EQ(doubled.left[7] - doubled.right[7], 2.0f * (a.left[7] - a.right[7]));
}

TEST(ChannelOps, KeepingTheCentreOfIdenticalChannelsChangesNothing) {
    const std::vector<float> x = test::noise(20'000, 0.5f, 5).left.toVector();
    const auto [l, r] = ChannelOps::centerExtract(x, x, {CenterMode::keep, 20, 24000});
    EXPECT_LE(maxDifference(l, x), 1e-5f);
    EXPECT_LE(maxDifference(r, x), 1e-5f);
}

TEST(ChannelOps, RemovingTheCentreSilencesACentredToneInTheBand) {
    constexpr std::size_t n = 48'000;
    const std::vector<float> tone = sine(n, 1000.0, 0.5);
    const AudioData audio(tone, tone);
    const AudioData out = ChannelOps::apply(ChannelOperation::center({CenterMode::remove, 200, 5000}), audio, {0, n});
    // Away from the clip's edges (where the cut-off tone spreads below the band), the tone is gone.
    const std::span<const float> inner(out.left.data() + 4096, n - 8192);
    const double before = rms(std::span<const float>(tone.data() + 4096, n - 8192));
    EXPECT_LE(20.0 * std::log10(rms(inner) / before), -60.0);
    EXPECT_LE(20.0 * std::log10(rms(std::span<const float>(out.right.data() + 4096, n - 8192)) / before), -60.0);
}

TEST(ChannelOps, CentreExtractionMatchesADoublePrecisionReference) {
    constexpr std::size_t n = 9'000;
    // Partly shared material: a common tone, a tone on one side, and independent noise (whose
    // bins are often anti-correlated), in a band with content on both sides of it.
    const AudioData noise = test::noise(n, 0.1f, 8);
    const std::vector<float> common = sine(n, 1500.0, 0.3);
    const std::vector<float> left = plus(plus(common, sine(n, 2200.0, 0.2)), noise.left.toVector());
    const std::vector<float> right = plus(sine(n, 1500.0, 0.25, 0.4), noise.right.toVector());
    for (CenterMode mode : {CenterMode::keep, CenterMode::remove}) {
        // 1000 … 3000 Hz are bins 85 … 256.
        const auto [l, r] = ChannelOps::centerExtract(left, right, {mode, 1000, 3000});
        const auto [refL, refR] = referenceCenter(left, right, 85, 256, mode == CenterMode::keep);
        double worst = 0.0;
        for (std::size_t i = 0; i < n; ++i) worst = std::max({worst, std::fabs(l[i] - refL[i]), std::fabs(r[i] - refR[i])});
        EXPECT_LE(worst, 2e-5) << rawValue(mode);
    }
}

TEST(ChannelOps, CentreRangesLeaveOtherFramesBitIdentical) {
    const AudioData a = test::noise(20'000, 0.7f, 9);
    const FrameRange range{5'000, 13'000};
    const AudioData out = ChannelOps::apply(ChannelOperation::center({CenterMode::remove, 300, 4000}), a, range);
    for (std::size_t i = 0; i < 20'000; ++i) {
        if (i >= 5'000 && i < 13'000) continue;
        ASSERT_EQ(out.left[i], a.left[i]) << i;
        ASSERT_EQ(out.right[i], a.right[i]) << i;
    }
    // Inside, the range was processed on its own, as centerExtract does with its samples.
    const auto [l, r] = ChannelOps::centerExtract(a.left.span().subspan(5'000, 8'000), a.right.span().subspan(5'000, 8'000),
                                                  {CenterMode::remove, 300, 4000});
    EXPECT_TRUE(std::equal(l.begin(), l.end(), out.left.begin() + 5'000));
    EXPECT_TRUE(std::equal(r.begin(), r.end(), out.right.begin() + 5'000));
}

TEST(ChannelOps, CentreBandEdgesAndShortInputs) {
    const std::vector<float> x = test::noise(3'000, 0.5f, 10).left.toVector();
    const std::vector<float> y = test::noise(3'000, 0.5f, 11).left.toVector();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Non-finite or inverted edges give a valid band: the whole band, or one bin at the low edge.
    const auto whole = ChannelOps::centerExtract(x, y, {CenterMode::keep, 20, 24000});
    EXPECT_EQ(ChannelOps::centerExtract(x, y, {CenterMode::keep, nan, nan}), whole);
    EXPECT_EQ(ChannelOps::centerExtract(x, y, {CenterMode::keep, -5, std::numeric_limits<double>::infinity()}), whole);
    const auto inverted = ChannelOps::centerExtract(x, y, {CenterMode::keep, 4000, 100});
    EXPECT_EQ(inverted, ChannelOps::centerExtract(x, y, {CenterMode::keep, 4000, 4000}));
    EXPECT_GT(maxDifference(inverted.first, x), 1e-3f);  // one bin was processed

    EXPECT_EQ(ChannelOps::centerExtract({}, {}, {}), (std::pair<std::vector<float>, std::vector<float>>{}));
    const std::vector<float> one = {0.5f};
    const auto single = ChannelOps::centerExtract(one, one, {CenterMode::keep, 20, 24000});
    EXPECT_NEAR(single.first[0], 0.5f, 1e-6f);
    // Channels of different lengths come back at their own lengths.
    const auto uneven = ChannelOps::centerExtract(x, std::span<const float>(y).first(1000), {});
    EXPECT_EQ(uneven.first.size(), 3000u);
    EXPECT_EQ(uneven.second.size(), 1000u);
}
