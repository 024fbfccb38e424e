#include <gtest/gtest.h>

#include <cmath>

#include "model/Automation.h"
#include "model/Session.h"
#include "model/Trimming.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

Track withHandles(std::int64_t frames, double start, std::int64_t head, std::int64_t tail) {
    Track t = Track::make("c", test::noise(frames, 0.5f, 7));
    t.start = start;
    if (head) t.headHandle = test::noise(head, 0.5f, 8);
    if (tail) t.tailHandle = test::noise(tail, 0.5f, 9);
    return t;
}

}  // namespace

TEST(TrimLimits, ShrinkAndGrow) {
    EXPECT_EQ(withHandles(480, 1, 0, 0).trimLimits(ClipEdge::start), (Track::TrimLimits{0, 0}));  // 10 ms minimum
    EXPECT_EQ(withHandles(1000, 1, 0, 0).trimLimits(ClipEdge::end), (Track::TrimLimits{0, 520}));
    EXPECT_EQ(withHandles(100, 1, 0, 0).trimLimits(ClipEdge::end), (Track::TrimLimits{0, 0}));
    // At time 0 the start cannot grow, whatever the head handle holds.
    EXPECT_EQ(withHandles(1000, 0, 5000, 0).trimLimits(ClipEdge::start).lower, 0);
    EXPECT_EQ(withHandles(1000, 1, 5000, 0).trimLimits(ClipEdge::start).lower, -5000);
    EXPECT_EQ(withHandles(1000, 0.01, 5000, 0).trimLimits(ClipEdge::start).lower, -480);
    // End 0.5 s before 480 s with a 2 s tail: 24000 frames only.
    EXPECT_EQ(withHandles(48000, 478.5, 0, 96000).trimLimits(ClipEdge::end).lower, -24000);
}

TEST(Trim, StartAndBackRestoresEverything) {
    Track t = withHandles(96000, 1.0, 0, 0);
    t.volumeEnvelope = {{0.05, -6}, {1.0, 0}};
    t.fadeIn = 0.5;
    const Track original = t;

    EXPECT_EQ(t.trimmedSpan(ClipEdge::start, 4800), (TimeRange{1.1, 1.1 + 91200.0 / 48000}));
    EXPECT_EQ(t, original);  // the preview changes nothing

    EXPECT_EQ(t.trim(ClipEdge::start, 4800), 4800);
    EXPECT_EQ(t.frames(), 91200);
    EXPECT_DOUBLE_EQ(t.start, 1.1);
    ASSERT_TRUE(t.headHandle);
    EXPECT_EQ(t.headHandle->frames(), 4800);
    EXPECT_EQ(t.audio.left[0], original.audio.left[4800]);
    ASSERT_EQ(t.volumeEnvelope.size(), 2u);
    EXPECT_DOUBLE_EQ(t.volumeEnvelope[0].time, 0);
    EXPECT_NEAR(t.volumeEnvelope[0].value, -6 + 6 * 0.05 / 0.95, 1e-12);  // −5.684…
    EXPECT_NEAR(t.volumeEnvelope[1].time, 0.9, 1e-12);
    EXPECT_EQ(t.volumeEnvelope[1].value, 0);
    ASSERT_TRUE(t.handleEnvelopes);
    EXPECT_EQ(t.handleEnvelopes->volume, original.volumeEnvelope);
    EXPECT_NE(t.revision, original.revision);
    EXPECT_EQ(t.peaks.toVector(), t.audio.peaks(1800));

    EXPECT_EQ(t.trim(ClipEdge::start, -4800), -4800);
    EXPECT_EQ(t.audio, original.audio);
    EXPECT_EQ(t.start, original.start);
    EXPECT_FALSE(t.headHandle || t.handleEnvelopes);
    EXPECT_EQ(t.volumeEnvelope, original.volumeEnvelope);
    EXPECT_EQ(t.fadeIn, 0.5);
}

TEST(Trim, EndMovesAudioIntoTheTailAndBack) {
    Track t = withHandles(10000, 2, 0, 300);
    const AudioData oldTail = *t.tailHandle;
    const AudioData audio = t.audio;
    t.fadeOut = 1.0;
    EXPECT_EQ(t.trim(ClipEdge::end, 1000), 1000);
    EXPECT_EQ(t.frames(), 9000);
    ASSERT_EQ(t.tailHandle->frames(), 1300);
    EXPECT_EQ(t.tailHandle->left[0], audio.left[9000]);
    EXPECT_EQ(t.tailHandle->right[1000], oldTail.right[0]);
    EXPECT_EQ(t.start, 2);
    EXPECT_DOUBLE_EQ(t.fadeOut, 9000.0 / 48000);  // fades stay inside the clip
    // Beyond the limits: clamped, and the clamped delta is returned.
    EXPECT_EQ(t.trim(ClipEdge::end, -1'000'000), -1300);
    EXPECT_EQ(t.audio.left[10000 + 299], oldTail.left[299]);
    EXPECT_FALSE(t.tailHandle);
    EXPECT_EQ(t.trim(ClipEdge::end, 0), 0);
}

TEST(Trim, EditedEnvelopeIsLaidBackOverTheHandles) {
    Track t = Track::make("c", test::constant(96000));
    t.volumeEnvelope = {{0.0, 0}, {2.0, -20}};
    t.trim(ClipEdge::start, 48000);  // clip now covers 1…2 s of the material
    ASSERT_EQ(t.volumeEnvelope.size(), 2u);
    // The user edits the clip's envelope; trimming back keeps the edit and the handle's part.
    t.volumeEnvelope = {{0.0, -3}, {1.0, -3}};
    t.trim(ClipEdge::start, -24000);
    // The handle's first point (0 dB at 0 s of the material) joins the edited level at 1 s,
    // so at 0.5 s of the material (the new clip start) the ramp stands halfway.
    ASSERT_FALSE(t.volumeEnvelope.empty());
    for (const auto& [at, level] : {std::pair{0.0, -1.5}, {0.5, -3.0}, {1.5, -3.0}})
        EXPECT_NEAR(*Automation::value(t.volumeEnvelope, at), level, 1e-9) << at;
}

TEST(Restored, JoinsAndDropsRedundantPoints) {
    const Envelope stored{{0, 0}, {1, -10}, {3, -10}, {4, 0}};
    // Editing to an empty envelope clears the handle parts too.
    EXPECT_TRUE(Automation::restored({}, stored, {1, 3}).empty());
    const Envelope r = Automation::restored({{0, -10}, {2, -10}}, stored, {1, 3});
    // (0,0) (1,-10) [joint at 1 dropped as duplicate] (3,-10) [dup] (4,0)
    EXPECT_EQ(r, (Envelope{{0, 0}, {1, -10}, {3, -10}, {4, 0}}));
    // Joints that break the line stay.
    EXPECT_EQ(Automation::restored({{0, -5}, {1, -5}}, {{0, -10}, {4, 0}}, {2, 3}),
              (Envelope{{0, -10}, {2, -5}, {3, -5}, {4, 0}}));
    // Joints on the straight line through their neighbours go, one after the other.
    EXPECT_EQ(Automation::restored({{0, -5}, {1, -2.5}}, {{0, -10}, {4, 0}}, {2, 3}),
              (Envelope{{0, -10}, {4, 0}}));
}

namespace {

Track& addClip(Session& s, const Lane& row, double start, double seconds) {
    Track t = test::clip("c", static_cast<std::int64_t>(seconds * 48000), start);
    t.laneID = row.id;
    return s.tracks.emplace_back(std::move(t));
}

}  // namespace

TEST(Crossfades, OverlapsOnOneRow) {
    Session s;
    const Lane row;
    s.lanes = {row};
    const Uuid x = addClip(s, row, 0, 2).id, y = addClip(s, row, 1, 2).id, z = addClip(s, row, 1.5, 1).id;
    const auto list = s.crossfades();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], (Crossfade{row.id, x, y, {48000, 96000}}));
    EXPECT_EQ(list[1], (Crossfade{row.id, x, z, {72000, 96000}}));
    const auto fades = s.automaticFades();
    EXPECT_EQ(fades.at(x), (AutomaticFade{0, 1.0}));
    EXPECT_EQ(fades.at(y), (AutomaticFade{1.0, 0}));
    EXPECT_EQ(fades.at(z), (AutomaticFade{0.5, 0}));
    s.autoCrossfade = false;
    EXPECT_TRUE(s.crossfades().empty());
}

TEST(Crossfades, NoneForTouchingMutedPunchOrSeparateRows) {
    Session s;
    const Lane a, b;
    s.lanes = {a, b};
    addClip(s, a, 0, 1), addClip(s, a, 1, 1);  // touching
    addClip(s, a, 5, 1), addClip(s, a, 5, 2);  // the same start
    addClip(s, b, 0.5, 1);                     // another row
    addClip(s, a, 7, 1), addClip(s, a, 7.5, 1).muted = true;
    addClip(s, a, 9, 1), addClip(s, a, 9.5, 1).punchTake = true;
    s.tracks.push_back(test::clip("r", 48000, 0.2));  // no row
    EXPECT_TRUE(s.crossfades().empty());
}
