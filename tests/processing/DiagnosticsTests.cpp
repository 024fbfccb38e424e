// Click, clipping and silence scans and their repairs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "model/SplitMix64.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/Diagnostics.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

using test::sine;

// Uniform noise whose RMS is −60 dBFS.
std::vector<float> quietNoise(std::size_t n, std::uint64_t seed) { return whiteNoise(n, seed, 0.001 * std::sqrt(3.0)); }

FrameRange all(const AudioData& a) { return {0, a.frames()}; }

// Reference linear prediction, all in double precision: the same unit-mean-square Hann window,
// autocorrelation and the textbook Levinson-Durbin recursion.
std::vector<double> referenceLpc(const std::vector<float>& x, std::size_t p) {
    const std::size_t n = x.size();
    std::vector<double> w(n), r(p + 1, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        w[i] = std::sqrt(8.0 / 3.0) * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(n))) * x[i];
    for (std::size_t k = 0; k <= p; ++k)
        for (std::size_t i = 0; i + k < n; ++i) r[k] += w[i] * w[i + k];
    r[0] *= 1.0001;
    // Prediction coefficients c with x[n] ≈ Σ c[j]·x[n−1−j].
    std::vector<double> c(p, 0.0);
    double err = r[0];
    for (std::size_t i = 0; i < p; ++i) {
        double acc = r[i + 1];
        for (std::size_t j = 0; j < i; ++j) acc -= c[j] * r[i - j];
        const double k = acc / err;
        std::vector<double> next = c;
        next[i] = k;
        for (std::size_t j = 0; j < i; ++j) next[j] = c[j] - k * c[i - 1 - j];
        c = next;
        err *= 1.0 - k * k;
    }
    return c;
}

}  // namespace

TEST(Diagnostics, LpcMatchesADoublePrecisionReference) {
    // A resonant second-order process driven by white noise, plus a tone.
    std::vector<float> x(2048);
    const std::vector<float> e = whiteNoise(2048 + 100, 3, 0.1);
    double y1 = 0.0, y2 = 0.0;
    for (std::size_t i = 0; i < 2048 + 100; ++i) {
        const double y = 1.3 * y1 - 0.6 * y2 + e[i];
        y2 = y1;
        y1 = y;
        if (i >= 100) x[i - 100] = static_cast<float>(y + 0.2 * std::sin(0.3 * static_cast<double>(i)));
    }
    // The odd length takes its own window.
    const std::vector<float> odd(x.begin(), x.begin() + 777);
    const std::pair<const std::vector<float>*, int> cases[] = {{&x, 2}, {&x, 8}, {&x, 16}, {&x, 32}, {&odd, 16}};
    for (auto [signal, order] : cases) {
        const std::vector<float> c = Diagnostics::lpc(*signal, order);
        const std::vector<double> ref = referenceLpc(*signal, std::size_t(order));
        ASSERT_EQ(c.size(), ref.size());
        for (std::size_t j = 0; j < c.size(); ++j) EXPECT_NEAR(c[j], ref[j], 1e-4) << signal->size() << " " << order << ":" << j;
    }
}

TEST(Diagnostics, LpcDegenerateInputs) {
    const std::vector<float> x = whiteNoise(64, 4, 0.5);
    EXPECT_TRUE(Diagnostics::lpc(x, 0).empty());
    EXPECT_EQ(Diagnostics::lpc(std::vector<float>(x.begin(), x.begin() + 32), 16), std::vector<float>(16, 0.0f));
    EXPECT_EQ(Diagnostics::lpc(std::vector<float>(2048, 0.0f), 16), std::vector<float>(16, 0.0f));
    EXPECT_EQ(Diagnostics::lpc(std::vector<float>(64, std::nanf("")), 4), std::vector<float>(4, 0.0f));
    // The energy floor r0 ≤ 1e−20 with the unit-mean-square window: 64 samples of 1e−12 have
    // r0 ≈ 6.4e−23 and give zeros; 64 samples around 1e−9 (r0 ≈ 6e−17) are analysed.
    const double hz = 0.4 * 48000.0 / (2.0 * std::numbers::pi);
    EXPECT_EQ(Diagnostics::lpc(sine(64, hz, 1e-12), 2), std::vector<float>(2, 0.0f));
    EXPECT_NE(Diagnostics::lpc(sine(64, hz, 1e-9), 2), std::vector<float>(2, 0.0f));
}

TEST(Diagnostics, ClicksInNoiseAndNoneInASine) {
    std::vector<float> l = quietNoise(48000, 5), r = quietNoise(48000, 6);
    l[20000] += 0.5f;
    const AudioData spiked(l, r);
    const auto clicks = Diagnostics::detectClicks(spiked, all(spiked), 0.5);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].kind, DiagnosticKind::clicks);
    EXPECT_EQ(clicks[0].range.lower, 20000);
    EXPECT_LE(clicks[0].range.count(), 2);
    EXPECT_GE(clicks[0].severity, 0.05);
    EXPECT_LE(clicks[0].severity, 1.0);
    // Outside the scanned range nothing is found.
    EXPECT_TRUE(Diagnostics::detectClicks(spiked, {0, 19000}, 0.5).empty());

    const AudioData clean = AudioData::mono(sine(96000, 440.0, 0.8));
    for (double s : {0.0, 0.5, 1.0}) EXPECT_TRUE(Diagnostics::detectClicks(clean, all(clean), s).empty()) << s;
}

TEST(Diagnostics, ClickEdgesAndMerging) {
    auto spikes = [](std::vector<std::size_t> at) {
        std::vector<float> x = quietNoise(20000, 7);
        for (std::size_t i : at) x[i] += 0.5f;
        return AudioData(x, quietNoise(20000, 8));
    };
    // Within the first or last 16 frames: never found.
    const AudioData edges = spikes({5, 19990});
    EXPECT_TRUE(Diagnostics::detectClicks(edges, all(edges), 1.0).empty());
    // A raw event starting 8 frames after the previous one's end merges; 9 frames stays separate.
    const AudioData close = spikes({1000, 1009});
    const auto merged = Diagnostics::detectClicks(close, all(close), 0.5);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].range, (FrameRange{1000, 1010}));
    const AudioData apart = spikes({1000, 1010});
    EXPECT_EQ(Diagnostics::detectClicks(apart, all(apart), 0.5).size(), 2u);
    // Non-finite sensitivity is 0.5; NaN audio yields nothing rather than garbage.
    EXPECT_EQ(Diagnostics::detectClicks(close, all(close), std::nan("")).size(), 1u);
    const AudioData broken = AudioData::mono(std::vector<float>(5000, std::nanf("")));
    EXPECT_TRUE(Diagnostics::detectClicks(broken, all(broken), 0.5).empty());
}

TEST(Diagnostics, DeclickRestoresTheSine) {
    const std::vector<float> clean = sine(48000, 440.0, 0.5);
    std::vector<float> spiked = clean;
    spiked[24000] += 0.4f;
    spiked[24001] -= 0.3f;
    const AudioData audio = AudioData::mono(spiked);
    const auto clicks = Diagnostics::detectClicks(audio, all(audio), 0.5);
    ASSERT_EQ(clicks.size(), 1u);
    const AudioData fixed = Diagnostics::declick(audio, clicks);
    double error = 0.0, signal = 0.0;
    for (std::size_t i = 24000 - 64; i < 24000 + 64; ++i) {
        const double d = fixed.left[i] - clean[i];
        error += d * d;
        signal += static_cast<double>(clean[i]) * clean[i];
    }
    EXPECT_LT(10.0 * std::log10(error / signal), -40.0);
    EXPECT_EQ(fixed.right, fixed.left);
}

TEST(Diagnostics, ClippingThresholdRunsAndSeverity) {
    EXPECT_NEAR(Diagnostics::clipLevel(-0.1), 0.98756, 5e-6);
    EXPECT_NEAR(Diagnostics::clipLevel(-40.0), 0.999 * std::pow(10.0, -24.0 / 20.0), 1e-7);
    EXPECT_EQ(Diagnostics::clipLevel(std::nan("")), Diagnostics::clipLevel(-0.1));

    std::vector<float> l(2000, 0.1f), r(2000, 0.1f);
    auto fill = [](std::vector<float>& x, std::size_t from, std::size_t n, float v) {
        for (std::size_t i = from; i < from + n; ++i) x[i] = (i % 2) ? v : -v;
    };
    fill(l, 100, 2, 0.99f);    // too short for minRun 3
    fill(l, 300, 32, 0.98757f);
    fill(r, 600, 100, 1.0f);
    fill(l, 900, 5, 0.98755f);  // just below the −0.1 dB level
    const AudioData audio(l, r);
    const auto found = Diagnostics::detectClipping(audio, all(audio), -0.1, 3);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].range, (FrameRange{300, 332}));
    EXPECT_DOUBLE_EQ(found[0].severity, 0.5);
    EXPECT_EQ(found[1].range, (FrameRange{600, 700}));
    EXPECT_DOUBLE_EQ(found[1].severity, 1.0);
    EXPECT_EQ(found[1].kind, DiagnosticKind::clipping);
    // minRun below 1 counts as 1: the 2-frame run appears.
    EXPECT_EQ(Diagnostics::detectClipping(audio, all(audio), -0.1, 0).size(), 3u);
    // −40 dB is used as −24 dB (level 0.063): the 0.1 background is one run; at −40 dB a level of
    // 0.00999 would flag the 0.05 clip below too.
    std::vector<float> quiet(500, 0.05f);
    std::fill(quiet.begin() + 100, quiet.begin() + 200, 0.07f);
    const AudioData low = AudioData::mono(quiet);
    const auto lowRuns = Diagnostics::detectClipping(low, all(low), -40.0, 3);
    ASSERT_EQ(lowRuns.size(), 1u);
    EXPECT_EQ(lowRuns[0].range, (FrameRange{100, 200}));
    // Runs of both channels that touch merge; a range beyond the clip is clamped.
    std::vector<float> a(100, 0.0f), b(100, 0.0f);
    fill(a, 10, 5, 1.0f);
    fill(b, 15, 5, 1.0f);
    const AudioData touching(a, b);
    const auto merged = Diagnostics::detectClipping(touching, {-50, 5000}, -0.1, 3);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].range, (FrameRange{10, 20}));
}

TEST(Diagnostics, SilenceStretches) {
    std::vector<float> x = whiteNoise(48000 * 2, 9, 0.3);
    std::fill(x.begin() + 24000, x.begin() + 24480, 0.0f);    // exactly one 10 ms window
    std::fill(x.begin() + 48000, x.begin() + 96000, 0.0f);    // silent tail to the end
    const AudioData audio = AudioData::mono(x);
    const auto shortOnes = Diagnostics::detectSilence(audio, all(audio), -50.0, 0.001);
    ASSERT_EQ(shortOnes.size(), 2u);
    EXPECT_EQ(shortOnes[0].range, (FrameRange{24000, 24480}));
    EXPECT_EQ(shortOnes[1].range, (FrameRange{48000, 96000}));
    EXPECT_DOUBLE_EQ(shortOnes[1].severity, 1.0);
    EXPECT_DOUBLE_EQ(shortOnes[0].severity, 1.0 / 8.0);
    // Default half second: only the tail; a range ending inside it ends the finding there.
    const auto tail = Diagnostics::detectSilence(audio, {0, 80000}, -50.0, 0.5);
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(tail[0].range, (FrameRange{48000, 80000}));
    EXPECT_EQ(tail[0].kind, DiagnosticKind::silence);
    // Non-finite and huge durations are safe.
    EXPECT_EQ(Diagnostics::detectSilence(audio, all(audio), -50.0, std::nan("")).size(), 1u);
    EXPECT_TRUE(Diagnostics::detectSilence(audio, all(audio), -50.0, 1e300).empty());
    EXPECT_TRUE(Diagnostics::detectSilence(audio, {10, 10}, -50.0, 0.5).empty());
    // A NaN channel is never silent.
    std::vector<float> nan(48000, std::nanf(""));
    const AudioData half(std::vector<float>(48000, 0.0f), nan);
    EXPECT_TRUE(Diagnostics::detectSilence(half, all(half), -50.0, 0.5).empty());
}

TEST(Diagnostics, SilenceCutsAndRemoval) {
    auto finding = [](std::int64_t a, std::int64_t b) {
        DiagnosticFinding f;
        f.kind = DiagnosticKind::silence;
        f.range = {a, b};
        return f;
    };
    const std::vector<DiagnosticFinding> findings{finding(0, 9600), finding(20000, 29601), finding(100000, 700000)};
    const auto cuts = Diagnostics::silenceCuts(800000, findings, 0.2);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[0], (FrameRange{24800, 24801}));
    EXPECT_EQ(cuts[1], (FrameRange{104800, 695200}));
    const auto long12 = Diagnostics::silenceCuts(800000, findings, 12.0);
    ASSERT_EQ(long12.size(), 1u);
    EXPECT_EQ(long12[0], (FrameRange{340000, 460000}));
    EXPECT_EQ(Diagnostics::silenceCuts(800000, findings, std::nan("")).size(), 3u);

    std::vector<float> x(1000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(i);
    const AudioData audio = AudioData::mono(x);
    const AudioData shorter = Diagnostics::removeSilence(audio, std::vector{finding(100, 200), finding(150, 300), finding(900, 1000)}, 0.0);
    ASSERT_EQ(shorter.frames(), 700);
    EXPECT_EQ(shorter.left[99], 99.0f);
    EXPECT_EQ(shorter.left[100], 300.0f);
    EXPECT_EQ(shorter.right[699], 899.0f);
    EXPECT_EQ(test::refusal([&] { Diagnostics::removeSilence(audio, std::vector{finding(0, 1000)}, 0.0); }),
              L("Дорожка целиком состоит из тишины."));
    EXPECT_THROW(Diagnostics::removeSilence(AudioData(), {}, 0.2), StudioError);

    const AudioData muted = Diagnostics::muteSilence(audio, std::vector{finding(990, 2000), finding(-5, 3)});
    EXPECT_EQ(muted.frames(), 1000);
    EXPECT_EQ(muted.left[2], 0.0f);
    EXPECT_EQ(muted.left[3], 3.0f);
    EXPECT_EQ(muted.right[995], 0.0f);
}

TEST(Diagnostics, Interpolation) {
    std::vector<float> x{9.0f, 2.0f, 3.0f};
    Diagnostics::interpolate(x, {0, 1});
    EXPECT_EQ(x[0], 2.0f);  // a gap at the start copies the next frame
    std::vector<float> y{1.0f, 0.0f, 0.0f, 0.0f, 5.0f};
    Diagnostics::interpolate(y, {1, 4});
    EXPECT_EQ(y, (std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f, 5.0f}));
    // Gaps outside the channel are ignored.
    std::vector<float> z = y;
    Diagnostics::interpolate(z, {-1, 2});
    Diagnostics::interpolate(z, {3, 9});
    Diagnostics::interpolate(z, {3, 3});
    EXPECT_EQ(z, y);
    // A 10-frame gap in a long sine, also close to the clip start, is rebuilt closely.
    for (std::size_t at : {std::size_t{5000}, std::size_t{160}}) {
        const std::vector<float> clean = sine(10000, 700.0, 0.5);
        std::vector<float> holed = clean;
        std::fill(holed.begin() + static_cast<std::ptrdiff_t>(at), holed.begin() + static_cast<std::ptrdiff_t>(at) + 10, 0.0f);
        Diagnostics::interpolate(holed, {static_cast<std::int64_t>(at), static_cast<std::int64_t>(at) + 10});
        for (std::size_t i = at; i < at + 10; ++i) EXPECT_NEAR(holed[i], clean[i], 5e-3) << at;
    }
}

TEST(Diagnostics, CubicFit) {
    std::vector<std::pair<double, double>> points;
    for (double x : {-3.0, -2.0, -1.0, 4.0, 5.0, 6.0}) points.emplace_back(x, 1.0 - 2.0 * x + 0.5 * x * x - 0.25 * x * x * x);
    const auto fit = Diagnostics::cubicFit(points, 1.0, 4.0);
    ASSERT_TRUE(fit);
    for (double x : {0.0, 1.0, 2.5}) EXPECT_NEAR((*fit)(x), 1.0 - 2.0 * x + 0.5 * x * x - 0.25 * x * x * x, 1e-9);
    const std::vector<std::pair<double, double>> threeXs{{0, 1}, {1, 2}, {2, 0}, {0, 1.5}, {2, 0.5}};
    EXPECT_FALSE(Diagnostics::cubicFit(threeXs, 1.0, 1.0));
    EXPECT_FALSE(Diagnostics::cubicFit(points, 1.0, 0.0));
    auto broken = points;
    broken[1].second = std::nan("");
    EXPECT_FALSE(Diagnostics::cubicFit(broken, 1.0, 4.0));
}

TEST(Diagnostics, ReconstructClipped) {
    const float level = Diagnostics::clipLevel(-0.1);
    // A 1.25-amplitude sine clipped at full scale gets its peaks back above the clip level.
    const std::vector<float> clean = sine(4800, 200.0, 1.25);
    std::vector<float> clipped = clean;
    for (float& v : clipped) v = std::clamp(v, -1.0f, 1.0f);
    std::vector<float> out = clipped;
    Diagnostics::reconstructClipped(out, clipped, {0, 4800}, level);
    double worst = 0.0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (std::fabs(clipped[i]) < level) {
            ASSERT_EQ(out[i], clipped[i]);
            continue;
        }
        EXPECT_GE(std::fabs(out[i]), level);
        EXPECT_LE(std::fabs(out[i]), 4.0f * level);
        EXPECT_EQ(std::signbit(out[i]), std::signbit(clipped[i]));
        worst = std::max(worst, std::fabs(static_cast<double>(out[i]) - clean[i]));
    }
    EXPECT_LT(worst, 0.1);

    // A run touching the clip start takes context from the right only; too few points leave it.
    auto reconstructed = [&](const std::vector<float>& x, FrameRange span) {
        std::vector<float> out = x;
        Diagnostics::reconstructClipped(out, x, span, level);
        return out;
    };
    const std::vector<float> start{1.0f, 1.0f, 1.0f, 0.9f, 0.7f, 0.5f, 0.3f, 0.1f};
    EXPECT_GE(reconstructed(start, {0, 8})[0], level);
    EXPECT_NE(reconstructed(start, {0, 8}), start);
    const std::vector<float> tight{0.2f, 1.0f, 1.0f, 1.0f, 0.5f, 0.3f};
    EXPECT_EQ(reconstructed(tight, {0, 6}), tight);
    // A NaN context gives no fit: the run stays as it was instead of turning NaN.
    const std::vector<float> nan{0.1f, std::nanf(""), 0.6f, 0.8f, 1.0f, 1.0f, 0.8f, 0.6f, 0.4f, 0.2f};
    EXPECT_EQ(reconstructed(nan, {0, 10})[4], 1.0f);
    // A span beyond the channel is clamped.
    EXPECT_EQ(reconstructed(tight, {-10, 100}), tight);
}
