#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#include "processing/AmplitudeReport.h"
#include "processing/Loudness.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

constexpr double kPi = std::numbers::pi;

// The bins lo ..< hi of band i, as the band layout defines them.
std::pair<int, int> bandBins(int i) {
    const double fLo = 20.0 * std::pow(1000.0, i / 220.0), fHi = 20.0 * std::pow(1000.0, (i + 1) / 220.0);
    const int lo = std::min(std::max(static_cast<int>(std::floor(fLo * 8192 / 48000)), 1), 4096);
    const int hi = std::min(std::max(lo + 1, static_cast<int>(std::floor(fHi * 8192 / 48000))), 4097);
    return {lo, hi};
}

// The band level computed directly: windows placed as the report places them, a Hann-windowed DFT
// at each of the band's bins in double precision, the mean of (|X| · 2 / 4096)² over the windows
// and channels, the loudest bin, in dB.
double referenceBand(const AudioData& audio, int band) {
    const std::int64_t n = audio.frames();
    const std::int64_t windows = n < 4096 ? 1 : std::min<std::int64_t>(n / 4096, 64);
    const auto [lo, hi] = bandBins(band);
    std::vector<double> hann(8192);
    std::vector<std::complex<double>> e(8192);  // e^(−2πik/8192)
    for (std::size_t k = 0; k < 8192; ++k) {
        hann[k] = 0.5 - 0.5 * std::cos(2.0 * kPi * double(k) / 8192.0);
        e[k] = std::polar(1.0, -2.0 * kPi * double(k) / 8192.0);
    }
    double best = 0.0;
    for (int b = lo; b < hi; ++b) {
        double sum = 0.0;
        for (std::int64_t i = 0; i < windows; ++i) {
            const std::int64_t start =
                windows == 1 ? 0 : std::int64_t(std::floor(double(i) / double(windows - 1) * double(std::max<std::int64_t>(n - 8192, 0))));
            for (const auto* ch : {&audio.left, &audio.right}) {
                std::complex<double> x;
                for (std::int64_t k = 0; k < 8192 && start + k < n; ++k) x += (*ch)[start + k] * hann[k] * e[b * k % 8192];
                sum += std::pow(2.0 * std::abs(x) / 4096.0, 2);
            }
        }
        best = std::max(best, sum / (2.0 * double(windows)));
    }
    return std::max(10.0 * std::log10(std::max(best, 1e-11)), -110.0);
}

// Tones whose amplitude jumps every 1000 frames to a fixed-seed random level, so that the band
// levels depend on exactly where the windows lie.
AudioData stepping(std::int64_t n, double frequency) {
    test::SplitMix64 rng(99);
    std::vector<float> l(static_cast<std::size_t>(n)), r(static_cast<std::size_t>(n));
    double a = 0.0;
    for (std::size_t i = 0; i < l.size(); ++i) {
        if (i % 1000 == 0) a = 0.5 * (rng.uniform() + 1.0);
        l[i] = static_cast<float>(a * std::sin(2.0 * kPi * frequency * double(i) / 48000.0));
        r[i] = static_cast<float>(0.5 * a * std::sin(2.0 * kPi * frequency * 1.5 * double(i) / 48000.0));
    }
    return AudioData(std::move(l), std::move(r));
}

int bandOf(double frequency) { return static_cast<int>(std::floor(220.0 * std::log10(frequency / 20.0) / 3.0)); }

}  // namespace

TEST(AmplitudeReport, EmptyAndSilentClipsGiveTheFloors) {
    const double inf = std::numeric_limits<double>::infinity();
    const AmplitudeReport empty = AmplitudeReport::analyze(AudioData());
    const AmplitudeReport silent = AmplitudeReport::analyze(AudioData::silence(100'000));
    for (auto [report, floor] : {std::pair{&empty, -inf}, std::pair{&silent, -240.0}}) {
        EXPECT_EQ(report->peak, floor);
        EXPECT_EQ(report->rms, floor);
        EXPECT_FALSE(report->lufs);
        EXPECT_EQ(report->dcOffset, 0.0);
        EXPECT_EQ(report->clippedSamples, 0);
    }
    EXPECT_TRUE(empty.spectrum.empty());
    EXPECT_EQ(silent.spectrum, std::vector<double>(220, -110.0));

    EXPECT_EQ(AmplitudeReport::analyze(AudioData::silence(1)).spectrum.size(), 220u);
}

TEST(AmplitudeReport, FullScaleClipsCountEverySample) {
    const AmplitudeReport full = AmplitudeReport::analyze(test::constant(5'000, 1.0f));
    EXPECT_EQ(full.clippedSamples, 10'000);
    EXPECT_EQ(full.peak, 0.0);
    EXPECT_DOUBLE_EQ(full.rms, 0.0);
    EXPECT_EQ(full.dcOffset, 1.0);

    // Either sign counts; just under full scale does not.
    const AudioData mixed({1.0f, -1.5f, 0.99999994f, -0.5f}, {-1.0f, 0.0f, 0.25f, 2.0f});
    const AmplitudeReport m = AmplitudeReport::analyze(mixed);
    EXPECT_EQ(m.clippedSamples, 4);
    EXPECT_NEAR(m.peak, 20.0 * std::log10(2.0), 1e-12);
    EXPECT_NEAR(m.dcOffset, (1.0 - 1.5 + 0.99999994 - 0.5 - 1.0 + 0.25 + 2.0) / 8.0, 1e-9);
}

TEST(AmplitudeReport, LevelsAndLoudnessOfMaterial) {
    const AudioData noise = test::noise(480'000, 0.5f, 3);
    const AmplitudeReport r = AmplitudeReport::analyze(noise);
    EXPECT_EQ(r.lufs, Loudness::integrated(noise));
    ASSERT_TRUE(r.lufs);
    EXPECT_NEAR(r.peak, 20.0 * std::log10(static_cast<double>(Loudness::samplePeakLinear(noise))), 1e-9);
    // Uniform noise of amplitude A has an RMS of A/√3.
    EXPECT_NEAR(r.rms, 20.0 * std::log10(0.5 / std::sqrt(3.0)), 0.02);
    EXPECT_NEAR(r.dcOffset, 0.0, 1e-3);
}

TEST(AmplitudeReport, SpectrumShowsAToneInItsBand) {
    // A full-scale sine centred on bin 171 reads 0 dB in its band.
    const double frequency = 171.0 * 48000.0 / 8192.0;
    const AmplitudeReport r = AmplitudeReport::analyze(AudioData::mono(test::sine(200'000, frequency, 1.0)));
    ASSERT_EQ(r.spectrum.size(), 220u);
    const int band = bandOf(frequency);
    EXPECT_NEAR(r.spectrum[static_cast<std::size_t>(band)], 0.0, 0.01);
    for (std::size_t i = 0; i < 220; ++i) EXPECT_TRUE(std::abs(int(i) - band) <= 40 || r.spectrum[i] < -80.0) << i;
}

TEST(AmplitudeReport, WindowsAreSpreadAsTheReferenceSpreadsThem) {
    // One window zero-padded (4095 and 8191 frames), a few windows, and the 64-window cap.
    for (std::int64_t n : {4'095, 8'191, 8'192, 100'000, 262'143, 262'144, 300'001}) {
        const AudioData audio = stepping(n, 1000.0);
        const AmplitudeReport r = AmplitudeReport::analyze(audio);
        for (double f : {1000.0, 1500.0, 3000.0}) {
            const int band = bandOf(f);
            EXPECT_NEAR(r.spectrum[static_cast<std::size_t>(band)], referenceBand(audio, band), 0.01) << n << " " << f;
        }
    }
    // The last of 64 windows ends on the clip's last frame: a tone in the final 2000 frames shows.
    std::vector<float> x = test::sine(400'000, 1000.0, 1.0);
    std::fill(x.begin(), x.end() - 2000, 0.0f);
    EXPECT_GT(AmplitudeReport::analyze(AudioData::mono(x)).spectrum[static_cast<std::size_t>(bandOf(1000.0))], -60.0);
}
