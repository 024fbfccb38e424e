
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "model/SplitMix64.h"
#include "model/StudioError.h"
#include "processing/TimePitch.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

AudioData tone(double hz, std::int64_t frames, std::int64_t silenceBefore = 0) {
    std::vector<float> s(static_cast<std::size_t>(silenceBefore), 0.0f);
    const auto t = test::sine(static_cast<std::size_t>(frames - silenceBefore), hz);
    s.insert(s.end(), t.begin(), t.end());
    return AudioData::mono(std::move(s));
}

// Mean frequency from the upward zero crossings of the middle half, interpolated between samples.
double crossingFrequency(const SharedArray<float>& x) {
    const std::size_t from = x.size() / 4, to = 3 * x.size() / 4;
    double first = -1, last = -1;
    int count = 0;
    for (std::size_t i = from; i < to; ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = t;
            last = t;
            ++count;
        }
    }
    return (count - 1) / (last - first) * 48000.0;
}

void expectRefused(const AudioData& audio, double rate) {
    EXPECT_EQ(test::refusal([&] { AudioIO::timePitch(audio, rate, 0); }), "Замедление превышает предел длины клипа в 8 минут.");
}

}  // namespace

TEST(TimePitchTest, LengthIsTheInputLengthOverTheRate) {
    const AudioData in = test::noise(100'000, 0.5f, 11);
    EXPECT_EQ(AudioIO::timePitch(in, 0.5, 0).frames(), 200'000);
    EXPECT_EQ(AudioIO::timePitch(in, 2.0, 0).frames(), 50'000);
    EXPECT_EQ(AudioIO::timePitch(in, 0.8, -5).frames(), 125'000);
    EXPECT_EQ(AudioIO::timePitch(in.slice({0, 3}), 0.8, 0).frames(), 4);  // 3.75 rounds up
    // One frame at rate 2: 0.5 rounds away from zero.
    EXPECT_EQ(AudioIO::timePitch(in.slice({0, 1}), 2.0, 0).frames(), 1);
}

TEST(TimePitchTest, RateAndPitchAreClampedAndNonFiniteValuesAreNeutral) {
    const AudioData in = tone(300, 20'000);
    EXPECT_EQ(AudioIO::timePitch(in, 3.0, 0), AudioIO::timePitch(in, 2.0, 0));
    EXPECT_EQ(AudioIO::timePitch(in, 0.1, 0), AudioIO::timePitch(in, 0.5, 0));
    EXPECT_EQ(AudioIO::timePitch(in, std::numeric_limits<double>::quiet_NaN(), 0), AudioIO::timePitch(in, 1.0, 0));
    EXPECT_EQ(AudioIO::timePitch(in, 1.0, 20), AudioIO::timePitch(in, 1.0, 12));
    EXPECT_EQ(AudioIO::timePitch(in, 1.0, -std::numeric_limits<double>::infinity()), AudioIO::timePitch(in, 1.0, 0));
}

TEST(TimePitchTest, PitchMovesByTheSemitonesAndStretchingKeepsIt) {
    const AudioData in = tone(440, 96'000);
    EXPECT_NEAR(crossingFrequency(AudioIO::timePitch(in, 1.0, 12).left), 880.0, 880.0 * 0.005);
    EXPECT_NEAR(crossingFrequency(AudioIO::timePitch(in, 1.0, -12).left), 220.0, 220.0 * 0.005);
    EXPECT_NEAR(crossingFrequency(AudioIO::timePitch(in, 0.8, 0).left), 440.0, 440.0 * 0.005);
    EXPECT_NEAR(crossingFrequency(AudioIO::timePitch(in, 1.6, 7).left), 440.0 * std::pow(2.0, 7.0 / 12.0),
                440.0 * 0.005 * 1.5);
}

TEST(TimePitchTest, ResultsOutsideTheClipLimitAreRefused) {
    expectRefused(AudioData(), 1.0);
    // 11,520,001 frames at half speed would give 23,040,002 frames; refused before any work.
    expectRefused(AudioData::mono(std::vector<float>(11'520'001, 0.1f)), 0.5);
}

// The trimming rule: a reported delay is cut from the start; only a processor that reports none
// is taken to start at its first audible frame within 6000 frames.
TEST(TimePitchTest, TrimmingFollowsTheReportedDelay) {
    const AudioData rendered = tone(500, 40'000 + AudioIO::kTimePitchTail, 3'000);
    const AudioData none = AudioIO::detail::trimRendered(rendered, 40'000, std::nullopt);
    EXPECT_EQ(none.frames(), 40'000);
    EXPECT_EQ(none, rendered.slice({3'001, 43'001}));  // the sine's frame 0 is 0
    const AudioData zero = AudioIO::detail::trimRendered(rendered, 40'000, 0);
    EXPECT_EQ(zero, rendered.slice({0, 40'000}));
    EXPECT_EQ(AudioIO::detail::trimRendered(rendered, 40'000, 1'234), rendered.slice({1'234, 41'234}));
    // Leading silence of 6000 frames or more stays whole without a figure; the delay never cuts
    // into the expected length.
    const AudioData late = tone(500, 40'000 + AudioIO::kTimePitchTail, 9'000);
    EXPECT_EQ(AudioIO::detail::trimRendered(late, 40'000, std::nullopt), late.slice({0, 40'000}));
    EXPECT_EQ(AudioIO::detail::trimRendered(late, 60'000, 50'000), late.slice({4'000, 64'000}));
}

namespace {

// A speech-like signal: 40 ms of silence, then syllables of a gliding harmonic voice (some opened
// by a noise burst) with pauses between them.
AudioData speechLike(std::uint64_t seed) {
    SplitMix64 rng(seed);
    std::vector<float> x(1'920, 0.0f);
    for (int syllable = 0; syllable < 7; ++syllable) {
        if (syllable % 3 == 1) {
            const auto burst = static_cast<std::size_t>(1'500 + 1'000 * (rng.uniform() + 1.0));
            for (std::size_t i = 0; i < burst; ++i) {
                const double shape = std::sin(std::numbers::pi * static_cast<double>(i) / static_cast<double>(burst));
                x.push_back(static_cast<float>(0.08 * shape * rng.uniform()));
            }
        }
        const auto voiced = static_cast<std::size_t>(4'800 + 2'900 * (rng.uniform() + 1.0));
        const double f0 = 150.0 + 40.0 * rng.uniform(), glide = 30.0 * rng.uniform();
        double phase = 0.0;
        for (std::size_t i = 0; i < voiced; ++i) {
            const double t = static_cast<double>(i) / static_cast<double>(voiced);
            phase += 2.0 * std::numbers::pi * (f0 + glide * t) / 48000.0;
            const double attack = std::min(1.0, static_cast<double>(i) / 480.0);
            const double level = 0.3 * attack * (1.0 - t * t);
            double v = 0.0;
            for (int k = 1; k <= 12; ++k) v += std::sin(k * phase) / k;
            x.push_back(static_cast<float>(level * v));
        }
        x.resize(x.size() + static_cast<std::size_t>(2'000 + 2'400 * (rng.uniform() + 1.0)), 0.0f);
    }
    return AudioData::mono(std::move(x));
}

// A 440 Hz tone that starts after 50 ms and lasts one second (2 ms ramps at both ends).
AudioData delayedTone() {
    std::vector<float> x(2'400, 0.0f);
    const auto t = test::sine(48'000, 440.0, 0.4);
    for (std::size_t i = 0; i < t.size(); ++i)
        x.push_back(t[i] * static_cast<float>(std::min({1.0, i / 96.0, (48'000.0 - i) / 96.0})));
    x.resize(x.size() + 9'600, 0.0f);
    return AudioData::mono(std::move(x));
}

// Root-mean-square envelope in 10 ms windows (longer than a voice's pitch period) every 0.25 ms
// (12 frames). With `scale`, the window
// and the hop are stretched by it, so that the envelope of an input is laid out on the time axis
// of its time-scaled result (input frame = output frame × rate).
std::vector<double> envelope(const AudioData& a, double scale = 1.0) {
    std::vector<double> sums(static_cast<std::size_t>(a.frames()) + 1, 0.0);
    for (std::size_t i = 0; i < static_cast<std::size_t>(a.frames()); ++i)
        sums[i + 1] = sums[i] + double(a.left[i]) * a.left[i] + double(a.right[i]) * a.right[i];
    std::vector<double> e;
    const double window = 480.0 * scale;
    for (double start = 0.0;; start += 12.0 * scale) {
        const auto lo = static_cast<std::size_t>(std::llround(start));
        const auto hi = static_cast<std::size_t>(std::llround(start + window));
        if (hi >= sums.size()) break;
        e.push_back(std::sqrt((sums[hi] - sums[lo]) / window));
    }
    return e;
}

// The lag in milliseconds (positive: `out` is late) at which the output envelope best matches the
// reference, by normalised cross-correlation within ±80 ms.
double envelopeLagMs(const std::vector<double>& out, const std::vector<double>& reference) {
    const std::ptrdiff_t maxLag = 320;
    double best = -2.0;
    std::ptrdiff_t bestLag = 0;
    const auto n = static_cast<std::ptrdiff_t>(std::min(out.size(), reference.size()));
    for (std::ptrdiff_t lag = -maxLag; lag <= maxLag; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::ptrdiff_t k = 0; k < n; ++k) {
            const std::ptrdiff_t j = k + lag;
            const double x = j >= 0 && j < static_cast<std::ptrdiff_t>(out.size()) ? out[static_cast<std::size_t>(j)] : 0.0;
            const double y = reference[static_cast<std::size_t>(k)];
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
        const double c = xy / std::sqrt(xx * yy + 1e-30);
        if (c > best) {
            best = c;
            bestLag = lag;
        }
    }
    return static_cast<double>(bestLag) * 0.25;
}

}  // namespace

// Stretching and shifting keep the clip in time: the result starts where the time-scaled input
// does, its leading silence included (the stretcher adds no delay offline, so nothing is trimmed).
// Speech is compared over its whole envelope (every syllable's start); the tone over its start
// up to its middle (a stretched tone's end is smeared by the stretcher's windows).
TEST(TimePitchTest, ResultStaysInTimeWithTheScaledInput) {
    struct Input {
        const char* name;
        AudioData audio;
        std::int64_t compareFrames;  // of the input
    };
    const Input inputs[] = {{"speech", speechLike(7), std::numeric_limits<std::int64_t>::max()},
                            {"tone", delayedTone(), 2'400 + 24'000}};
    const std::pair<double, double> settings[] = {{0.8, 0}, {1.25, 0}, {1.0, 3}, {1.0, -3}, {0.8, 3}, {1.25, -3}};
    for (const auto& [name, input, compareFrames] : inputs) {
        for (const auto& [rate, semitones] : settings) {
            SCOPED_TRACE(std::string(name) + " rate " + std::to_string(rate) + " semitones " + std::to_string(semitones));
            const AudioData out = AudioIO::timePitch(input, rate, semitones);
            std::vector<double> reference = envelope(input, rate);
            const auto hops = static_cast<double>(compareFrames) / rate / 12.0;
            if (hops < static_cast<double>(reference.size())) reference.resize(static_cast<std::size_t>(hops));
            EXPECT_NEAR(envelopeLagMs(envelope(out), reference), 0.0, 2.0);
        }
    }
}

TEST(TimePitchTest, NonFiniteSamplesDoNotSpreadIntoTheResult) {
    AudioData in = tone(440, 30'000);
    in.left.mutableVector()[10'000] = std::numeric_limits<float>::quiet_NaN();
    in.right.mutableVector()[20'000] = std::numeric_limits<float>::infinity();
    const AudioData out = AudioIO::timePitch(in, 0.7, 3);
    EXPECT_TRUE(test::allFinite(out));
}
