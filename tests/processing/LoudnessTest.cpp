// Loudness measurement, normalisation and true-peak limiting, against libebur128, the EBU
// Tech 3341 test signals and slow double-precision references written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <vector>

#include "processing/Loudness.h"
#include "processing/LoudnessWeighting.h"
#include "processing/ReconstructionPeak.h"
#include "processing/TruePeakLimiter.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"
#include "support/TestTools.h"

namespace tessoral {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = std::numbers::pi;

std::int64_t seconds(double s) { return static_cast<std::int64_t>(std::llround(s * 48000.0)); }

// A sine of `frequency` Hz with peak amplitude `dbfs` appended to a channel.
void appendSine(std::vector<float>& x, double frequency, double dbfs, std::int64_t frames) {
    test::appendSine(x, static_cast<std::size_t>(frames), frequency, std::pow(10.0, dbfs / 20.0));
}

AudioData stereoSine(double frequency, double dbfs, std::int64_t frames, double phaseDegrees = 0.0) {
    const auto x = test::sine(std::size_t(frames), frequency, std::pow(10.0, dbfs / 20.0), phaseDegrees * kPi / 180.0);
    return AudioData(x, x);
}

// 10 ms raised-cosine fades at both ends: a tone cut off abruptly rings when interpolated
// against the silence outside the clip, which is a true peak of its own.
AudioData faded(AudioData audio) {
    auto& l = audio.left.mutableVector();
    auto& r = audio.right.mutableVector();
    const std::size_t n = l.size(), fade = std::min<std::size_t>(480, n / 2);
    for (std::size_t i = 0; i < fade; ++i) {
        const float g = static_cast<float>(0.5 - 0.5 * std::cos(kPi * double(i) / double(fade)));
        for (std::size_t at : {i, n - 1 - i}) l[at] *= g, r[at] *= g;
    }
    return audio;
}

void expectLikePeer(const AudioData& audio, const char* what) {
    SCOPED_TRACE(what);
    const test::EbuMeasurement expected = test::ebur128Measure(audio);
    const LoudnessMeasurement m(audio);
    ASSERT_TRUE(expected.lufs && m.lufs);
    EXPECT_NEAR(*m.lufs, *expected.lufs, 0.05);
    EXPECT_LE(m.truePeak, expected.truePeakDB + 0.2);
    EXPECT_GE(m.truePeak, expected.truePeakDB - 0.4);
}

// The interpolation kernels (Blackman-windowed sinc over ±8 samples, unit gain at DC) in double.
struct Kernels {
    double taps[3][16];
    Kernels() {
        for (int p = 0; p < 3; ++p) {
            const double f = (p + 1) / 4.0;
            double norm = 0.0;
            for (int j = -7; j <= 8; ++j) {
                const double u = f - j;
                taps[p][j + 7] = std::sin(kPi * u) / (kPi * u) *
                                 (0.42 + 0.5 * std::cos(kPi * u / 8.0) + 0.08 * std::cos(kPi * u / 4.0));
                norm += taps[p][j + 7];
            }
            for (double& t : taps[p]) t /= norm;
        }
    }
};
const Kernels kKernels;

// Largest magnitude of the sample at i and of the values interpolated at i + 1/4, 1/2, 3/4
// (zeros outside the channel), slowly.
// The limiter's reading at i: also the seven values of an 8x reconstruction after it (Kaiser-
// windowed sinc, β 6, offsets −47 … +48, each phase at unit gain at DC).
double slowReconstructedAt(const std::vector<float>& x, std::int64_t i) {
    static const std::vector<double> kernels = [] {
        std::vector<double> k(7 * 96);
        for (int p = 1; p < 8; ++p) {
            double norm = 0.0;
            for (int j = -47; j <= 48; ++j) {
                const double u = p / 8.0 - j, r = u / 48.0;
                norm += k[(p - 1) * 96 + j + 47] = std::sin(kPi * u) / (kPi * u) * std::cyl_bessel_i(0.0, 6.0 * std::sqrt(1.0 - r * r));
            }
            for (int t = 0; t < 96; ++t) k[(p - 1) * 96 + t] /= norm;
        }
        return k;
    }();
    double m = 0.0;
    for (int p = 0; p < 7; ++p) {
        double sum = 0.0;
        for (std::int64_t j = std::max<std::int64_t>(-47, -i); j <= 48 && i + j < std::int64_t(x.size()); ++j)
            sum += x[i + j] * kernels[p * 96 + j + 47];
        m = std::max(m, std::fabs(sum));
    }
    return m;
}

double slowPeakAt(const std::vector<float>& x, std::int64_t i, bool reconstructed = false) {
    double m = std::max(reconstructed ? slowReconstructedAt(x, i) : 0.0, double(std::fabs(x[i])));
    for (int p = 0; p < 3; ++p) {
        double sum = 0.0;
        for (std::int64_t at = std::max<std::int64_t>(i - 7, 0); at <= i + 8 && at < std::int64_t(x.size()); ++at)
            sum += x[at] * kKernels.taps[p][at - i + 7];
        m = std::max(m, std::fabs(sum));
    }
    return m;
}

double slowTruePeak(const std::vector<float>& x, bool reconstructed = false) {
    double m = 0.0;
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(x.size()); ++i) m = std::max(m, slowPeakAt(x, i, reconstructed));
    return m;
}

// The limiter's gain curve with plain windowed minimum and mean, in double precision.
std::vector<double> slowLimiterGain(const AudioData& audio, double ceiling, double lookahead, double release) {
    const std::vector<float> channels[2] = {audio.left.toVector(), audio.right.toVector()};
    const auto n = static_cast<std::int64_t>(audio.frames());
    std::vector<double> e(static_cast<std::size_t>(n), 0.0);
    for (const auto& x : channels)
        for (std::int64_t i = 0; i < n; ++i) {
            const double m = slowPeakAt(x, i, true);
            e[i] = std::max(e[i], m);
            if (i + 1 < n) e[i + 1] = std::max(e[i + 1], m);
        }
    const double threshold = std::pow(10.0, (ceiling - 0.1) / 20.0);
    std::vector<double> g(e.size());
    for (std::size_t i = 0; i < e.size(); ++i) g[i] = e[i] > threshold ? threshold / e[i] : 1.0;
    const std::int64_t w = std::max<std::int64_t>(2, static_cast<std::int64_t>(lookahead * 48000.0));
    std::vector<double> r(g.size());
    const double a = 1.0 - std::exp(-1.0 / (release * 48000.0));
    double s = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
        double h = 1.0;
        for (std::int64_t k = std::max<std::int64_t>(0, i - w + 1); k <= i; ++k) h = std::min(h, g[k]);
        if (i == 0) s = h;
        s = h < s ? h : s + (h - s) * a;
        r[i] = s;
    }
    std::vector<double> out(g.size());
    for (std::int64_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (std::int64_t k = i; k < i + w; ++k) sum += r[std::min(k, n - 1)];
        out[i] = sum / static_cast<double>(w);
    }
    return out;
}

// Quiet noise with a 0.5 ms full-scale square burst every second: low loudness, high peaks.
AudioData burstyNoise(std::int64_t frames) {
    AudioData bed = test::noise(frames, 0.01f, 7);
    std::vector<float> l = bed.left.toVector(), r = bed.right.toVector();
    for (std::int64_t at = 24000; at + 24 < frames; at += 48000)
        for (std::int64_t i = 0; i < 24; ++i) {
            const float v = (i / 4) % 2 == 0 ? 1.0f : -1.0f;
            l[at + i] = v;
            r[at + i] = -v;
        }
    return AudioData(std::move(l), std::move(r));
}

}  // namespace

// ---- integrated loudness and true peak against libebur128 ----

TEST(Loudness, TonesNoiseAndUnequalChannelsMatchPeer) {
    expectLikePeer(stereoSine(1000, -20, seconds(5)), "1 kHz, 5 s");
    expectLikePeer(stereoSine(100, -12, seconds(3)), "100 Hz, 3 s");
    expectLikePeer(stereoSine(10000, -6, seconds(2)), "10 kHz, 2 s");
    expectLikePeer(stereoSine(997, -3, seconds(0.4)), "400 ms, one block");
    expectLikePeer(stereoSine(440, -30, seconds(0.45)), "450 ms");
    expectLikePeer(stereoSine(11025, -1, seconds(1)), "near fs/4, peaks between samples");
    const AudioData n = test::noise(seconds(10), 0.3f, 11);
    std::vector<float> l = n.left.toVector(), r = n.right.toVector();
    for (float& v : l) v += 0.2f;
    for (float& v : r) v -= 0.1f;
    expectLikePeer(AudioData(l, r), "noise with DC");
    const std::vector<float> tone = stereoSine(1000, -10, seconds(4)).left.toVector();
    expectLikePeer(AudioData(tone, test::noise(seconds(4), 0.02f, 3).right.toVector()), "tone left, faint noise right");
    expectLikePeer(AudioData(tone, std::vector<float>(tone.size(), 0.0f)), "left only");
    expectLikePeer(test::noise(seconds(60), 0.5f, 5), "60 s of noise");
    expectLikePeer(burstyNoise(seconds(6)), "bursts over a quiet bed");
}

// ---- EBU Tech 3341 ----

TEST(Loudness, Tech3341LoudnessCases) {
    struct Section { double dbfs, seconds; };
    struct Case { const char* name; std::vector<Section> sections; double expected; };
    const std::vector<Case> cases = {
        {"case 1", {{-23, 20}}, -23.0},
        {"case 2", {{-33, 20}}, -33.0},
        {"case 3", {{-36, 10}, {-23, 60}, {-36, 10}}, -23.0},
        {"case 4", {{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}}, -23.0},
        {"case 5", {{-26, 20}, {-20, 20.1}, {-26, 20}}, -23.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> x;
        for (const Section& s : c.sections) appendSine(x, 1000, s.dbfs, seconds(s.seconds));
        const std::optional<double> lufs = Loudness::integrated(AudioData(x, x));
        ASSERT_TRUE(lufs.has_value());
        EXPECT_NEAR(*lufs, c.expected, 0.1);
        EXPECT_NEAR(*lufs, *test::ebur128Measure(AudioData(x, x)).lufs, 0.05);
    }
}

TEST(Loudness, Tech3341TruePeakCases) {
    struct Case { const char* name; double frequency, dbfs, phase, expected; };
    const Case cases[] = {
        {"case 15", 12000, -6.0, 0.0, -6.0},
        {"case 16", 12000, -6.0, 45.0, -6.0},
        {"case 17", 8000, -6.0, 60.0, -6.0},
        {"case 18", 6000, -6.0, 67.5, -6.0},
        {"case 19", 12000, 20.0 * std::log10(std::sqrt(2.0)), 45.0, 3.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AudioData audio = faded(stereoSine(c.frequency, c.dbfs, seconds(1), c.phase));
        const double tp = LoudnessMeasurement(audio).truePeak;
        for (double expected : {c.expected, test::ebur128Measure(audio).truePeakDB}) {
            EXPECT_LE(tp, expected + 0.2);
            EXPECT_GE(tp, expected - 0.4);
        }
    }
}

// ---- gating and the short-clip rule ----

TEST(Loudness, ShortClipsAreMeasuredUngatedAndLongOnesGated) {
    // A tone at −80 dBFS: below the absolute gate, so any gated measurement is absent.
    const AudioData quietShort = stereoSine(1000, -80, 19199);
    const std::optional<double> ungated = Loudness::integrated(quietShort);
    ASSERT_TRUE(ungated.has_value());
    EXPECT_NEAR(*ungated, -80.0, 0.2);
    EXPECT_FALSE(Loudness::integrated(stereoSine(1000, -80, 19200)).has_value());
    EXPECT_FALSE(Loudness::integrated(stereoSine(1000, -80, seconds(30))).has_value());

    // Half silence, half tone, under one block: the energy is averaged over the whole clip (−3 dB).
    std::vector<float> x(9600, 0.0f);
    appendSine(x, 1000, -20, 9599);
    EXPECT_NEAR(*Loudness::integrated(AudioData(x, x)), -23.0, 0.1);

    // The relative gate drops a quiet minute next to a loud one.
    std::vector<float> y;
    appendSine(y, 1000, -50, seconds(60));
    appendSine(y, 1000, -20, seconds(10));
    EXPECT_NEAR(*Loudness::integrated(AudioData(y, y)), -20.0, 0.1);
}

TEST(Loudness, EmptyAndSilentAudio) {
    const AudioData empty;
    EXPECT_FALSE(Loudness::integrated(empty).has_value());
    EXPECT_EQ(Loudness::truePeakLinear(empty.left.span()), 0.0f);
    EXPECT_EQ(LoudnessMeasurement(empty), LoudnessMeasurement(std::nullopt, -kInf, -kInf));
    EXPECT_EQ(Loudness::normalize(empty, LoudnessTarget::streaming).frames(), 0);
    EXPECT_EQ(TruePeakLimiter::apply(empty, -1.0, 0.0015, 0.08).frames(), 0);

    for (std::int64_t frames : {1, 4799, 19200, 480000}) {
        SCOPED_TRACE(frames);
        const AudioData silence = AudioData::silence(frames);
        EXPECT_FALSE(Loudness::integrated(silence).has_value());
        EXPECT_EQ(LoudnessMeasurement(silence), LoudnessMeasurement(std::nullopt, -kInf, -kInf));
        for (LoudnessTarget t : {LoudnessTarget::peak, LoudnessTarget::streaming, LoudnessTarget::atsc}) {
            const AudioData out = Loudness::normalize(silence, t);
            EXPECT_TRUE(out.left.sharesStorageWith(silence.left));
        }
        EXPECT_FALSE(Loudness::normalizationGain(silence, -16).has_value());
    }
}

TEST(Loudness, LoudnessAfterSilenceStaysFast) {
    // A loud start then minutes of silence: the filters decay to zero instead of lingering in
    // subnormal numbers, and the silence measures exactly nothing.
    std::vector<float> x;
    appendSine(x, 50, -1, seconds(1));
    x.resize(static_cast<std::size_t>(seconds(120)), 0.0f);
    const std::optional<double> lufs = Loudness::integrated(AudioData(x, x));
    ASSERT_TRUE(lufs.has_value());
    EXPECT_NEAR(*lufs, *test::ebur128Measure(AudioData(x, x)).lufs, 0.05);
}

// ---- true peak ----

TEST(Loudness, TruePeakMatchesSlowReferenceAcrossBlockEdges) {
    // Longer than two blocks of 65536 positions, with the largest peaks at the block edges and at
    // both ends of the channel, where the zeros outside it take part.
    test::SplitMix64 rng(21);
    std::vector<float> x(2 * 65536 + 13);
    for (float& v : x) v = static_cast<float>(0.3 * rng.uniform());
    const std::size_t edges[] = {0, 1, 65535, 65536, 65537, 131071, 131072, x.size() - 1};
    for (std::size_t at : edges) {
        std::vector<float> y = x;
        y[at] = 0.9f;
        if (at + 1 < y.size()) y[at + 1] = -0.9f;
        SCOPED_TRACE(at);
        const double expected = slowTruePeak(y);
        EXPECT_NEAR(Loudness::truePeakLinear(y), expected, 1e-5 * expected);
        const double reconstructed = slowTruePeak(y, true);
        EXPECT_NEAR(reconstruction_peak::peakLinear(y), reconstructed, 1e-5 * reconstructed);
    }
    // Very short channels.
    for (std::vector<float> y : {std::vector<float>{0.5f}, std::vector<float>{0.7f, -0.7f}, std::vector<float>(5, 0.25f)}) {
        const double expected = slowTruePeak(y);
        EXPECT_NEAR(Loudness::truePeakLinear(y), expected, 1e-5 * expected);
        EXPECT_NEAR(reconstruction_peak::peakLinear(y), slowTruePeak(y, true), 1e-5 * expected);
    }
    EXPECT_EQ(reconstruction_peak::peakLinear(std::vector<float>{}), 0.0f);
    // Small samples with the signs of the half-way kernel's taps, the most it makes of them, after
    // a larger sample: no stretch is passed over because its samples are small.
    std::vector<float> worst(4096, 0.0f);
    worst[100] = 0.6f;
    for (int j = -47; j <= 48; ++j) worst[std::size_t(2000 + j)] = std::sin(kPi * (0.5 - j)) / (0.5 - j) > 0.0 ? 0.25f : -0.25f;
    EXPECT_GT(slowTruePeak(worst, true), 0.75);
    EXPECT_NEAR(reconstruction_peak::peakLinear(worst), slowTruePeak(worst, true), 1e-5);
}

TEST(Loudness, MetersFedPieceByPieceGiveExactlyTheWholeSignalsFigures) {
    // Pieces of every awkward size (one sample, under and over a group of eight, across the
    // interpolation's reach and the 100 ms hops), on a clip with a loud edge at each end, a
    // long silence (the weighting filter's states are flushed) and a right channel of its own.
    test::SplitMix64 rng(5);
    std::vector<float> l(seconds(2.7)), r(l.size());
    for (std::size_t i = 0; i < l.size(); ++i) {
        const bool silent = i > l.size() / 3 && i < 2 * l.size() / 3;
        l[i] = silent ? 0.0f : static_cast<float>(0.2 * rng.uniform());
        r[i] = silent ? 0.0f : static_cast<float>(0.4 * rng.uniform());
    }
    l.front() = 0.95f, r.back() = -0.97f, r[r.size() - 2] = 0.97f;
    const AudioData audio(l, r);
    const std::size_t sizes[] = {1, 7, 8, 9, 15, 16, 23, 24, 4799, 4801, 65536};
    LoudnessMeter loudness;
    TruePeakMeter left, right, reconstructed(PeakInterpolation::reconstruction);
    for (std::size_t at = 0, k = 0; at < l.size(); ++k) {
        const std::size_t n = std::min(sizes[k % std::size(sizes)], l.size() - at);
        loudness.add(l.data() + at, r.data() + at, n);
        left.add(l.data() + at, n);
        right.add(r.data() + at, n);
        reconstructed.add(r.data() + at, n);
        at += n;
    }
    EXPECT_EQ(loudness.integrated(), Loudness::integrated(audio));
    EXPECT_EQ(left.finish(), Loudness::truePeakLinear(l));
    EXPECT_EQ(right.finish(), Loudness::truePeakLinear(r));
    EXPECT_EQ(reconstructed.finish(), reconstruction_peak::peakLinear(r));
    // Shorter than one block: ungated, like the whole-signal measurement; nothing given: nothing.
    LoudnessMeter brief;
    brief.add(l.data(), r.data(), 9000);
    EXPECT_EQ(brief.integrated(), Loudness::integrated(AudioData(std::vector<float>(l.begin(), l.begin() + 9000),
                                                                 std::vector<float>(r.begin(), r.begin() + 9000))));
    EXPECT_FALSE(LoudnessMeter().integrated());
    EXPECT_EQ(TruePeakMeter().finish(), 0.0f);
}

TEST(Loudness, SampleBySampleWeightingMatchesTheMeasurement) {
    // The live meter's filter (one sample at a time) and the measurement's (both channels at
    // once) share their coefficients; a short clip is measured ungated, so both give the same
    // mean weighted power.
    const AudioData audio = test::noise(seconds(0.3), 0.5f, 7);
    loudness_weighting::Filter left, right;
    double power = 0.0;
    for (std::size_t i = 0; i < audio.left.size(); ++i) {
        const double l = left.process(audio.left[i]), r = right.process(audio.right[i]);
        power += l * l + r * r;
    }
    const double live = loudness_weighting::loudness(power / double(audio.left.size()));
    EXPECT_NEAR(*Loudness::integrated(audio), live, 1e-9);
}

// ---- normalisation ----

TEST(Loudness, NormalizationGainAndPeakTarget) {
    // Out of reach: the gain stops at the −1 dBFS sample-peak cap; within reach it is exactly the
    // loudness difference.
    const AudioData quiet = stereoSine(1000, -40, seconds(2)), loud = stereoSine(1000, -20, seconds(2));
    EXPECT_NEAR(*Loudness::normalizationGain(quiet, 0.0) * Loudness::samplePeakLinear(quiet), 0.8912509, 1e-6);
    EXPECT_NEAR(20.0 * std::log10(*Loudness::normalizationGain(loud, -26.0)), -26.0 - *Loudness::integrated(loud), 1e-4);
    for (double dbfs : {-30.0, 3.0})
        EXPECT_NEAR(Loudness::samplePeakLinear(Loudness::normalize(stereoSine(440, dbfs, seconds(1)), LoudnessTarget::peak)),
                    0.8912509f, 1e-6);
    const AudioData in = stereoSine(440, -6, 100);
    EXPECT_TRUE(Loudness::normalize(in, LoudnessTarget::none).left.sharesStorageWith(in.left));
    // A subnormal peak cannot be raised to −1 dBFS in single precision: left alone, not made infinite.
    const AudioData tiny = test::constant(100, 1e-40f);
    EXPECT_TRUE(Loudness::normalize(tiny, LoudnessTarget::peak).left.sharesStorageWith(tiny.left));
    // The factor the export's second correction shares: none where there is nothing to scale.
    EXPECT_FLOAT_EQ(*Loudness::peakNormalizationFactor(2.0f), 0.8912509f / 2.0f);
    for (float peak : {0.0f, -0.5f, 1e-40f, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_FALSE(Loudness::peakNormalizationFactor(peak)) << peak;
}

TEST(Loudness, NormalizeToLoudnessTargets) {
    const AudioData tone = stereoSine(1000, -30, seconds(5));
    for (LoudnessTarget t : {LoudnessTarget::streaming, LoudnessTarget::podcast, LoudnessTarget::ebu, LoudnessTarget::atsc}) {
        SCOPED_TRACE(std::string(rawValue(t)));
        const LoudnessMeasurement m(Loudness::normalize(tone, t));
        EXPECT_NEAR(*m.lufs, *targetLUFS(t), 0.01);  // a sine has no peaks above the ceilings here
    }
    // A given measurement replaces measuring: claiming 6 dB louder lands 6 dB under the target.
    const double lufs = *Loudness::integrated(tone);
    const AudioData out = Loudness::normalize(tone, LoudnessTarget::podcast, lufs + 6.0);
    EXPECT_NEAR(*Loudness::integrated(out), -22.0, 0.01);
    // Full-band noise raised to 0.6 dB over the ceiling as a player reconstructs it, which the 4x
    // meter reads under the ceiling: it is limited to the ceiling as reconstructed.
    const AudioData noise = test::noise(seconds(0.2), 0.5f, 3);
    const double gain = -0.6 - Loudness::decibels(reconstruction_peak::peakLinear(noise));
    EXPECT_LT(LoudnessMeasurement(noise).truePeak + gain, -1.0);
    const AudioData limited = Loudness::normalize(noise, LoudnessTarget::podcast, -16.0 - gain);
    EXPECT_LE(Loudness::decibels(reconstruction_peak::peakLinear(limited)), -1.0);
    // A measurement that is not a number leaves the audio alone instead of filling it with NaN.
    const AudioData same = Loudness::normalize(tone, LoudnessTarget::podcast, std::nan(""));
    EXPECT_TRUE(same.left.sharesStorageWith(tone.left));
}

TEST(Loudness, NormalizedSquareWaveStaysUnderCeiling) {
    std::vector<float> square(static_cast<std::size_t>(seconds(3)));
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 24) % 2 == 0 ? 1.0f : -1.0f;
    const AudioData fullScale(square, square);
    for (auto [target, ceiling] : {std::pair{LoudnessTarget::streaming, -1.0}, std::pair{LoudnessTarget::atsc, -2.0}}) {
        SCOPED_TRACE(ceiling);
        EXPECT_LE(LoudnessMeasurement(Loudness::normalize(fullScale, target)).truePeak, ceiling);
        // Quiet material with full-scale bursts needs the limiter to reach the target.
        const AudioData bursts = burstyNoise(seconds(8));
        const AudioData out = Loudness::normalize(bursts, target);
        const LoudnessMeasurement m(out);
        EXPECT_LE(m.truePeak, ceiling);
        EXPECT_LE(test::ebur128Measure(out).truePeakDB, ceiling + 0.2);
        EXPECT_GT(m.truePeak, ceiling - 0.5);  // limited, not merely scaled down
    }
}

// ---- limiter ----

TEST(TruePeakLimiter, AudioUnderThresholdComesBackUnchanged) {
    const AudioData in = stereoSine(1000, -3, seconds(1));
    const AudioData out = TruePeakLimiter::apply(in, -1.0, 0.0015, 0.08);
    EXPECT_TRUE(out.left.sharesStorageWith(in.left));
    EXPECT_TRUE(out.right.sharesStorageWith(in.right));
    EXPECT_TRUE(Loudness::limited(in, -1.0).left.sharesStorageWith(in.left));
}

TEST(TruePeakLimiter, GainMatchesPlainReference) {
    // And a burst of full-band noise, where the 4x reading and the reconstruction part ways.
    AudioData in = burstyNoise(seconds(1.2));
    const AudioData white = test::noise(3000, 0.75f, 4);
    for (std::size_t i = 0; i < 3000; ++i) in.left.mutableVector()[40000 + i] = white.left[i], in.right.mutableVector()[40000 + i] = white.right[i];
    struct Setting {
        double lookahead, release;
    };
    // The usual setting; the two-frame minimum; a look-ahead longer than the clip.
    for (Setting s : {Setting{0.0015, 0.08}, Setting{0.0, 0.01}, Setting{0.1, 0.02}}) {
        SCOPED_TRACE(s.lookahead);
        const AudioData part = s.lookahead > 0.05 ? in.slice({23000, 26000}) : in;
        const AudioData out = TruePeakLimiter::apply(part, -3.0, s.lookahead, s.release);
        const std::vector<double> gain = slowLimiterGain(part, -3.0, s.lookahead, s.release);
        double worst = 0.0;
        for (std::size_t i = 0; i < gain.size(); ++i) {
            if (part.left[i] == 0.0f) continue;
            worst = std::max(worst, std::fabs(out.left[i] / part.left[i] - gain[i]));
        }
        EXPECT_LT(worst, 1e-4);
    }
}

TEST(TruePeakLimiter, KeepsTruePeakUnderCeilingAndReleases) {
    const AudioData in = burstyNoise(seconds(3));
    const AudioData out = Loudness::limited(in, -6.0);
    EXPECT_LE(LoudnessMeasurement(out).truePeak, -6.0);
    // Far from the bursts (after hold and release) the bed passes untouched.
    const std::size_t quiet = 64000;
    EXPECT_NEAR(out.left[quiet], in.left[quiet], 1e-3f * std::fabs(in.left[quiet]) + 1e-9f);
    // The reduction starts before the burst: look-ahead.
    EXPECT_LT(std::fabs(out.left[24000 - 10] / in.left[24000 - 10]), 0.9f);
}

// ---- texts ----

TEST(Loudness, Label) {
    EXPECT_EQ(Loudness::label(-16.04, -1.26), "−16.0 LUFS, −1.3 dBTP");
    EXPECT_EQ(Loudness::label(std::nullopt, -kInf), "−∞ LUFS, −∞ dBTP");
    EXPECT_EQ(Loudness::label(std::nan(""), 3.0), "−∞ LUFS, 3.0 dBTP");
    EXPECT_EQ(Loudness::label(-0.04, std::nullopt), "−0.0 LUFS, −∞ dBTP");
}

}  // namespace tessoral
