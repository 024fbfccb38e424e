#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/Automation.h"
#include "model/Track.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Track clipWithFades(std::int64_t frames, double in, double out) {
    Track t = test::clip("fades", frames);
    t.fadeIn = in;
    t.fadeOut = out;
    return t;
}

}  // namespace

TEST(TrackFadeFrames, ScaledIntoTheClip) {
    EXPECT_EQ(clipWithFades(100, 1.0, 3.0).fadeFrames(), (Track::FadeFrames{25, 75}));
    EXPECT_EQ(clipWithFades(101, 1.0, 1.0).fadeFrames(), (Track::FadeFrames{50, 50}));
    EXPECT_EQ(clipWithFades(48000, 0.25, 0.5).fadeFrames(), (Track::FadeFrames{12000, 24000}));
    EXPECT_EQ(clipWithFades(0, 1.0, 1.0).fadeFrames(), (Track::FadeFrames{0, 0}));
    // Lengths that are no length count as none.
    EXPECT_EQ(clipWithFades(48000, -1.0, kNaN).fadeFrames(), (Track::FadeFrames{0, 0}));
    EXPECT_EQ(clipWithFades(48000, kInf, -kInf).fadeFrames(), (Track::FadeFrames{0, 0}));
    // Absurd but finite lengths saturate instead of overflowing.
    EXPECT_EQ(clipWithFades(100, 1e300, 1e300).fadeFrames(), (Track::FadeFrames{50, 50}));
    EXPECT_EQ(clipWithFades(100, 1e300, 0.0).fadeFrames(), (Track::FadeFrames{100, 0}));
    EXPECT_EQ(clipWithFades(100, 0.0, 1e18).fadeFrames(), (Track::FadeFrames{0, 100}));
}

TEST(TrackFadeFrames, NeverLongerThanTheClip) {
    test::SplitMix64 rng(11);
    for (int i = 0; i < 2000; ++i) {
        const auto frames = static_cast<std::int64_t>((rng.uniform() + 1.0) * 5000);
        Track t = test::clip("f", 0);
        t.audio = AudioData::silence(frames);
        t.fadeIn = (rng.uniform() + 1.0) * 0.1;
        t.fadeOut = (rng.uniform() + 1.0) * 0.1;
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
    t.setFade(5.0, std::nullopt);
    EXPECT_EQ(t.fadeIn, 2.0);
    EXPECT_EQ(t.fadeOut, 1.0);
    t.setFade(std::nullopt, 10.0);
    EXPECT_EQ(t.fadeIn, 2.0);
    EXPECT_EQ(t.fadeOut, 1.0);

    t.setFade(0.5, 2.5);
    EXPECT_EQ(t.fadeIn, 0.5);
    EXPECT_EQ(t.fadeOut, 2.5);
    t.setFade(kNaN, -1.0);
    EXPECT_EQ(t.fadeIn, 0.0);
    EXPECT_EQ(t.fadeOut, 0.0);
    t.setFade(kInf, std::nullopt);
    EXPECT_EQ(t.fadeIn, 0.0);

    // A broken stored fade-out counts as none instead of spreading into the fade-in.
    t.fadeOut = kNaN;
    t.setFade(2.0, std::nullopt);
    EXPECT_EQ(t.fadeIn, 2.0);
}

TEST(TrackCropAutomation, FadesFollowTheKeptFrames) {
    const std::int64_t total = 3 * 48000;
    {
        Track t = clipWithFades(total, 2.0, 2.0);
        t.cropAutomation({0, total}, total);
        EXPECT_EQ(t.fadeIn, 2.0);
        EXPECT_EQ(t.fadeOut, 1.0);  // shortened to fit
    }
    {
        Track t = clipWithFades(total - 1, 1.0, 1.0);
        t.cropAutomation({1, total}, total);
        EXPECT_EQ(t.fadeIn, 0.0);  // the head is gone
        EXPECT_EQ(t.fadeOut, 1.0);
    }
    {
        Track t = clipWithFades(total - 1, 1.0, 1.0);
        t.cropAutomation({0, total - 1}, total);
        EXPECT_EQ(t.fadeIn, 1.0);
        EXPECT_EQ(t.fadeOut, 0.0);  // the tail is gone
    }
    {
        Track t = clipWithFades(total, kNaN, 1.0);
        t.cropAutomation({0, total}, total);
        EXPECT_EQ(t.fadeIn, 0.0);
        EXPECT_EQ(t.fadeOut, 1.0);
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
    EXPECT_EQ(r.fadeIn, 0.0);
    EXPECT_EQ(r.fadeOut, 0.0);
    EXPECT_TRUE(Automation::isValid(r.volumeEnvelope, Automation::kVolumeRange));
}
