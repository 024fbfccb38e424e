#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "model/Automation.h"
#include "model/Track.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::kInf, test::kNaN;

namespace {

Track clipWithFades(std::int64_t frames, double in, double out) {
    Track t = test::clip("fades", frames);
    t.fadeIn = in;
    t.fadeOut = out;
    return t;
}

}  // namespace

TEST(TrackFadeFrames, ScaledIntoTheClip) {
    struct Case {
        std::int64_t frames;
        double in, out;
        Track::FadeFrames expected;
    };
    const Case cases[] = {
        {100, 1.0, 3.0, {25, 75}}, {101, 1.0, 1.0, {50, 50}}, {48000, 0.25, 0.5, {12000, 24000}}, {0, 1.0, 1.0, {0, 0}},
        // Lengths that are no length count as none.
        {48000, -1.0, kNaN, {0, 0}}, {48000, kInf, -kInf, {0, 0}},
        // Absurd but finite lengths saturate instead of overflowing.
        {100, 1e300, 1e300, {50, 50}}, {100, 1e300, 0.0, {100, 0}}, {100, 0.0, 1e18, {0, 100}},
    };
    for (const auto& c : cases) EXPECT_EQ(clipWithFades(c.frames, c.in, c.out).fadeFrames(), c.expected) << c.in;
}

TEST(TrackFadeFrames, NeverLongerThanTheClip) {
    test::SplitMix64 rng(11);
    for (int i = 0; i < 2000; ++i) {
        const auto frames = static_cast<std::int64_t>((rng.uniform() + 1.0) * 5000);
        Track t = clipWithFades(0, (rng.uniform() + 1.0) * 0.1, 0);
        t.fadeOut = (rng.uniform() + 1.0) * 0.1;
        t.audio = AudioData::silence(frames);
        const auto f = t.fadeFrames();
        ASSERT_GE(f.fadeIn, 0);
        ASSERT_GE(f.fadeOut, 0);
        ASSERT_LE(f.fadeIn + f.fadeOut, frames);
        const auto in = std::llround(t.fadeIn * 48000), out = std::llround(t.fadeOut * 48000);
        if (in + out <= frames) {
            ASSERT_EQ(f, (Track::FadeFrames{in, out}));
        } else {
            // Scaled in proportion, losing at most a frame to truncation.
            ASSERT_NEAR(double(f.fadeIn) / frames, double(in) / double(in + out), 1.0 / frames + 1e-12);
        }
    }
}

TEST(TrackSetFade, FadeInFirstFadeOutGetsTheRest) {
    Track t = clipWithFades(3 * 48000, 0.0, 1.0);
    auto fades = [&] { return std::pair(t.fadeIn, t.fadeOut); };
    t.setFade(5.0, std::nullopt);
    EXPECT_EQ(fades(), std::pair(2.0, 1.0));
    t.setFade(std::nullopt, 10.0);
    EXPECT_EQ(fades(), std::pair(2.0, 1.0));
    t.setFade(0.5, 2.5);
    EXPECT_EQ(fades(), std::pair(0.5, 2.5));
    t.setFade(kNaN, -1.0);
    EXPECT_EQ(fades(), std::pair(0.0, 0.0));
    t.setFade(kInf, std::nullopt);
    EXPECT_EQ(t.fadeIn, 0.0);

    // A broken stored fade-out counts as none instead of spreading into the fade-in.
    t.fadeOut = kNaN;
    t.setFade(2.0, std::nullopt);
    EXPECT_EQ(t.fadeIn, 2.0);
}

TEST(TrackKeepFadesAsPlayed, OversizedFadesTakeThePlayedLengthsAndReadBackUnchanged) {
    // What the project loader keeps of stored fades on a clip of `seconds`.
    const auto loaded = [](double in, double out, double seconds) {
        const double fadeIn = std::min(in, seconds);
        return std::pair(fadeIn, std::min(out, seconds - fadeIn));
    };
    Track t = clipWithFades(100, 1.0, 3.0);
    t.keepFadesAsPlayed();
    EXPECT_EQ(std::pair(t.fadeIn, t.fadeOut), std::pair(25.0 / 48000, 75.0 / 48000));

    // Fades of 10 and 2 frames on a 6-frame clip play as 5 and 1, filling it: the stored
    // fade-out is what the loader's subtraction leaves, a hair under one frame's length.
    t = clipWithFades(6, 10.0 / 48000, 2.0 / 48000);
    t.keepFadesAsPlayed();
    EXPECT_EQ(t.fadeFrames(), (Track::FadeFrames{5, 1}));
    EXPECT_EQ(loaded(t.fadeIn, t.fadeOut, t.duration()), std::pair(t.fadeIn, t.fadeOut));

    // Fades that fit stay as they are, to the last digit.
    t = clipWithFades(48000, 0.123456789, 0.5);
    t.keepFadesAsPlayed();
    EXPECT_EQ(std::pair(t.fadeIn, t.fadeOut), std::pair(0.123456789, 0.5));

    // uniform() is in −1…1.
    test::SplitMix64 rng(5);
    for (int i = 0; i < 3000; ++i) {
        const auto frames = static_cast<std::int64_t>((rng.uniform() + 1.0) * 10000);
        const double in = (rng.uniform() + 1.0) * 0.25;
        Track c = clipWithFades(frames, in, (rng.uniform() + 1.0) * 0.25);
        const auto played = c.fadeFrames();
        c.keepFadesAsPlayed();
        ASSERT_EQ(c.fadeFrames(), played) << i;
        ASSERT_EQ(loaded(c.fadeIn, c.fadeOut, c.duration()), std::pair(c.fadeIn, c.fadeOut)) << i;
    }
}

TEST(TrackCropAutomation, FadesFollowTheKeptFrames) {
    const std::int64_t total = 3 * 48000;
    struct Case {
        std::int64_t frames;
        double in, out;
        FrameRange kept;
        double fadeIn, fadeOut;
    };
    const Case cases[] = {
        {total, 2.0, 2.0, {0, total}, 2.0, 1.0},          // the fade-out shortened to fit
        {total - 1, 1.0, 1.0, {1, total}, 0.0, 1.0},      // the head is gone
        {total - 1, 1.0, 1.0, {0, total - 1}, 1.0, 0.0},  // the tail is gone
        {total, kNaN, 1.0, {0, total}, 0.0, 1.0},
    };
    for (const auto& c : cases) {
        Track t = clipWithFades(c.frames, c.in, c.out);
        t.cropAutomation(c.kept, total);
        EXPECT_EQ(std::pair(t.fadeIn, t.fadeOut), std::pair(c.fadeIn, c.fadeOut)) << c.kept.lower << "…" << c.kept.upper;
    }
}

TEST(TrackCropAutomation, EnvelopesAreCroppedToTheKeptTime) {
    const std::int64_t total = 3 * 48000;
    Track t = clipWithFades(48000, 0.0, 0.0);
    t.volumeEnvelope = {{0.0, 0.0}, {3.0, -12.0}};
    t.panEnvelope = {{0.0, -1.0}, {3.0, 0.5}};
    t.cropAutomation({48000, 96000}, total);
    EXPECT_EQ(t.volumeEnvelope, (Envelope{{0.0, -4.0}, {1.0, -8.0}}));
    EXPECT_EQ(t.panEnvelope, (Envelope{{0.0, -0.5}, {1.0, 0.0}}));

    // A reversed range keeps nothing and leaves no negative lengths behind.
    Track r = clipWithFades(0, 1.0, 1.0);
    r.volumeEnvelope = {{0.0, 0.0}, {3.0, -12.0}};
    r.cropAutomation({96000, 48000}, total);
    EXPECT_EQ(std::pair(r.fadeIn, r.fadeOut), std::pair(0.0, 0.0));
    EXPECT_TRUE(Automation::isValid(r.volumeEnvelope, Automation::kVolumeRange));
}
