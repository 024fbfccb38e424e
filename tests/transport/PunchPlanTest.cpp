#include "transport/PunchPlan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "model/Limits.h"
#include "model/StudioError.h"
#include "processing/RackRenderer.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

constexpr double kRate = 48000.0;

PunchPlan windowPlan(double origin, double lo, double hi, std::optional<Uuid> target = std::nullopt) {
    return PunchPlan{origin, TimeRange{lo, hi}, target};
}

// A session with two clips on one row (A at 0 s, B at 3 s, both 4 s long) and C alone on another row.
struct TwoRows {
    Session session;
    Uuid a, b, c, laneAB;
    TwoRows() {
        a = session.appendOnNewLane(test::clip("A", 4 * 48000, 0.0));
        laneAB = *session.track(a)->laneID;
        Track clipB = test::clip("B", 4 * 48000, 3.0);
        clipB.laneID = laneAB;
        b = clipB.id;
        session.tracks.push_back(clipB);
        c = session.appendOnNewLane(test::clip("C", 4 * 48000, 0.0));
    }
};

// Whether samples lo..<hi of both channels are zero and the frames just outside are not.
void expectSilencedExactly(const AudioData& audio, std::int64_t lo, std::int64_t hi) {
    for (const auto* channel : {&audio.left, &audio.right}) {
        for (std::int64_t i = lo; i < hi; ++i) ASSERT_EQ((*channel)[i], 0.0f) << i;
        if (lo > 0) {
            EXPECT_NE((*channel)[lo - 1], 0.0f);
        }
        if (hi < audio.frames()) {
            EXPECT_NE((*channel)[hi], 0.0f);
        }
    }
}

// The metronome click sample in double precision.
double clickSample(double frequency, double level, int n) {
    return level * std::cos(2.0 * std::numbers::pi * frequency * n / kRate) * std::exp(-160.0 * n / kRate);
}

}  // namespace

// ---- plan arithmetic ----

TEST(PunchPlan, PunchWindowWithPreRollAndLatency) {
    const PunchPlan plan = windowPlan(8.0, 10.0, 12.0);
    const auto take = plan.take(10 * 48000, 480, kRate);
    EXPECT_EQ(take.frames, (FrameRange{2 * 48000 + 480, 4 * 48000 + 480}));
    EXPECT_DOUBLE_EQ(take.start, 10.0);
    EXPECT_EQ(plan.captureEndFrame(480, kRate), 4 * 48000 + 480);
    // A capture that ends inside the window keeps what there is.
    EXPECT_EQ(plan.take(150000, 480, kRate).frames, (FrameRange{96480, 150000}));
}

TEST(PunchPlan, PlainRecordingWithPreRollBeforeZero) {
    const PunchPlan plan{-1.5, std::nullopt, std::nullopt};
    const auto take = plan.take(5 * 48000, 480, kRate);
    EXPECT_EQ(take.frames, (FrameRange{72000 + 480, 5 * 48000}));
    EXPECT_DOUBLE_EQ(take.start, 0.0);
    EXPECT_EQ(plan.captureEndFrame(480, kRate), std::nullopt);
}

TEST(PunchPlan, ShortCaptureGivesEmptyTakeAtTheCaptureEnd) {
    const PunchPlan plan = windowPlan(8.0, 10.0, 12.0);
    const auto take = plan.take(50000, 480, kRate);
    EXPECT_TRUE(take.frames.empty());
    EXPECT_EQ(take.frames.lower, 50000);
    // Nothing captured, or a negative count, never gives an inverted range.
    EXPECT_EQ(plan.take(0, 480, kRate).frames, (FrameRange{0, 0}));
    EXPECT_EQ(plan.take(-7, 480, kRate).frames, (FrameRange{0, 0}));
}

TEST(PunchPlan, NegativeLatencyMovesTheTakeButNotTheCaptureEnd) {
    // A negative correction: the sound arrives "early", so the kept frames begin earlier.
    const PunchPlan plan = windowPlan(1.0, 2.0, 3.0);
    const auto take = plan.take(5 * 48000, -480, kRate);
    EXPECT_EQ(take.frames, (FrameRange{48000 - 480, 96000 - 480}));
    EXPECT_DOUBLE_EQ(take.start, 2.0);
    EXPECT_EQ(plan.captureEndFrame(-480, kRate), 96000);
    // A negative latency larger than the pre-roll: the punch-in frame is before capture began.
    const PunchPlan noPreRoll = windowPlan(2.0, 2.0, 3.0);
    const auto early = noPreRoll.take(5 * 48000, -480, kRate);
    EXPECT_EQ(early.frames, (FrameRange{0, 48000 - 480}));
    EXPECT_DOUBLE_EQ(early.start, 2.0 + 480.0 / kRate);
}

TEST(PunchPlan, NonFiniteAndHugeInputsStayDefined) {
    const PunchPlan huge = windowPlan(0.0, 0.0, 1e300);
    EXPECT_EQ(huge.captureEndFrame(std::numeric_limits<std::int64_t>::max(), kRate),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(huge.take(1000, 0, kRate).frames, (FrameRange{0, 1000}));

    const PunchPlan plan = windowPlan(8.0, 10.0, 12.0);
    for (double rate : {0.0, -48000.0, std::nan(""), double(INFINITY)}) {
        const auto take = plan.take(1000, 480, rate);
        EXPECT_TRUE(take.frames.empty());
        EXPECT_TRUE(std::isfinite(take.start));
    }
    const PunchPlan nanOrigin{std::nan(""), std::nullopt, std::nullopt};
    const auto take = nanOrigin.take(1000, 0, kRate);
    EXPECT_TRUE(std::isfinite(take.start));
    EXPECT_GE(take.start, 0.0);
}

// ---- punching out ----

TEST(PunchOut, ClipWithoutRowSilencesOnlyThatClip) {
    Session s;
    Track lone = test::clip("lone", 4 * 48000, 1.0);
    Track other = test::clip("other", 4 * 48000, 1.0);
    s.tracks = {lone, other};
    const Uuid before = lone.revision;
    EXPECT_TRUE(punchOut(s, {1.5, 2.0}, lone.id));
    expectSilencedExactly(s.tracks[0].audio, 24000, 48000);
    EXPECT_NE(s.tracks[0].revision, before);
    EXPECT_EQ(s.tracks[0].frames(), 4 * 48000);
    EXPECT_DOUBLE_EQ(s.tracks[0].start, 1.0);
    EXPECT_EQ(s.tracks[1], other);
}

TEST(PunchOut, RowSilencesEveryClipOfTheRowOnly) {
    TwoRows rows;
    Track& a = *rows.session.track(rows.a);
    a.headHandle = test::constant(100);
    a.tailHandle = test::constant(100);
    a.handleEnvelopes = HandleEnvelopes{};
    const Track c = *rows.session.track(rows.c);
    const Session undo = rows.session;

    EXPECT_TRUE(punchOut(rows.session, {2.5, 3.5}, rows.b));
    const Track& a2 = *rows.session.track(rows.a);
    const Track& b2 = *rows.session.track(rows.b);
    expectSilencedExactly(a2.audio, 120000, 168000);  // 2.5 s ..< 3.5 s of a clip at 0
    expectSilencedExactly(b2.audio, 0, 24000);        // 3.0 s ..< 3.5 s of a clip at 3
    EXPECT_FALSE(a2.headHandle || a2.tailHandle || a2.handleEnvelopes);
    // Drawing caches follow the new audio.
    EXPECT_EQ(a2.peaks, SharedArray<float>(a2.audio.peaks(limits::kPeakBins)));
    EXPECT_EQ(a2.leftEnvelope, SharedArray<EnvelopeBin>(a2.audio.envelope(false, limits::kEnvelopeBins)));
    EXPECT_NE(a2.peaks, undo.track(rows.a)->peaks);
    EXPECT_EQ(*rows.session.track(rows.c), c);
    // A copy taken before (an undo step) still holds the old samples.
    EXPECT_EQ(undo.track(rows.a)->audio.left[130000], 0.25f);
    EXPECT_EQ(undo.track(rows.b)->audio.right[0], 0.25f);
}

TEST(PunchOut, MonoClipSilencesBothChannelsWithoutTouchingCopies) {
    Session s;
    Track mono = Track::make("mono", AudioData::mono(std::vector<float>(48000, 0.5f)));
    ASSERT_TRUE(mono.audio.left.sharesStorageWith(mono.audio.right));
    const Uuid id = s.appendOnNewLane(mono);
    const Session undo = s;
    EXPECT_TRUE(punchOut(s, {0.25, 0.5}, id));
    expectSilencedExactly(s.track(id)->audio, 12000, 24000);
    EXPECT_EQ(undo.track(id)->audio.left[13000], 0.5f);
    EXPECT_EQ(undo.track(id)->audio.right[13000], 0.5f);
}

TEST(PunchOut, RangeOutsideClipsOrUnknownClipChangesNothing) {
    TwoRows rows;
    const Session before = rows.session;
    EXPECT_FALSE(punchOut(rows.session, {10.0, 12.0}, rows.a));
    EXPECT_FALSE(punchOut(rows.session, {-3.0, -1.0}, rows.a));
    EXPECT_FALSE(punchOut(rows.session, {3.0, 2.0}, rows.a));  // inverted
    EXPECT_FALSE(punchOut(rows.session, {1.0, 2.0}, std::nullopt));
    EXPECT_FALSE(punchOut(rows.session, {1.0, 2.0}, Uuid::random()));
    EXPECT_FALSE(punchOut(rows.session, {std::nan(""), std::nan("")}, rows.a));
    EXPECT_EQ(rows.session, before);
    // A range touching only clip A on the row counts A alone; B is left as it was.
    EXPECT_TRUE(punchOut(rows.session, {0.5, 1.0}, rows.b));
    EXPECT_EQ(*rows.session.track(rows.b), *before.track(rows.b));
    // An infinite end silences to the clip's end.
    EXPECT_TRUE(punchOut(rows.session, {3.5, INFINITY}, rows.c));
    expectSilencedExactly(rows.session.track(rows.c)->audio, 168000, 192000);
}

// ---- placing takes ----

TEST(AddPunchTake, WithoutReplacedClipCreatesNewRow) {
    TwoRows rows;
    const auto lanesBefore = rows.session.lanes.size();
    Track take = test::clip("take", 48000, 1.0);
    const Uuid id = take.id;
    EXPECT_FALSE(addPunchTake(rows.session, take, std::nullopt));
    ASSERT_EQ(rows.session.lanes.size(), lanesBefore + 1);
    const Track* placed = rows.session.track(id);
    ASSERT_NE(placed, nullptr);
    EXPECT_TRUE(placed->punchTake);
    EXPECT_EQ(placed->laneID, rows.session.lanes.back().id);
    // An id that names no clip does the same.
    EXPECT_FALSE(addPunchTake(rows.session, test::clip("take 2", 48000, 1.0), Uuid::random()));
    EXPECT_EQ(rows.session.lanes.size(), lanesBefore + 2);
}

TEST(AddPunchTake, ReplacingLaysTheTakeOverTheSilencedRange) {
    TwoRows rows;
    rows.session.lane(rows.laneAB)->color = 5;
    const auto lanesBefore = rows.session.lanes.size();
    Track take = test::clip("take", 48000, 3.25);  // 3.25 … 4.25 s
    take.color = 1;
    const Uuid id = take.id;
    EXPECT_TRUE(addPunchTake(rows.session, take, rows.a));
    EXPECT_EQ(rows.session.lanes.size(), lanesBefore);
    ASSERT_EQ(rows.session.tracks.back().id, id);
    const Track& placed = rows.session.tracks.back();
    EXPECT_EQ(placed.laneID, rows.laneAB);
    EXPECT_EQ(placed.color, 5);
    EXPECT_TRUE(placed.punchTake);
    EXPECT_EQ(placed.audio, take.audio);  // the take itself is not silenced
    expectSilencedExactly(rows.session.track(rows.a)->audio, 156000, 192000);
    expectSilencedExactly(rows.session.track(rows.b)->audio, 12000, 60000);
}

TEST(AddPunchTake, TargetWithoutRowIsSilencedAndTakeGetsNewRow) {
    Session s;
    Track lone = test::clip("lone", 2 * 48000);
    s.tracks.push_back(lone);
    EXPECT_TRUE(addPunchTake(s, test::clip("take", 48000, 0.5), lone.id));
    ASSERT_EQ(s.lanes.size(), 1u);
    EXPECT_EQ(s.tracks.back().laneID, s.lanes[0].id);
    EXPECT_EQ(s.tracks[0].laneID, std::nullopt);
    expectSilencedExactly(s.tracks[0].audio, 24000, 72000);
}

// ---- audible material ----

TEST(HasAudibleMaterial, FollowsMutesNotSoloOrPosition) {
    TwoRows rows;
    Session& s = rows.session;
    // Clip C is soloed: A and B are soloed away but still count.
    s.lane(*s.track(rows.c)->laneID)->muted = true;
    s.lane(rows.laneAB)->solo = false;
    s.track(rows.c)->solo = true;
    EXPECT_TRUE(hasAudibleMaterial(s, 0.0));
    EXPECT_TRUE(hasAudibleMaterial(s, 6.99));  // before the end, wherever the clips lie
    EXPECT_FALSE(hasAudibleMaterial(s, 7.0));   // the project's end
    EXPECT_FALSE(hasAudibleMaterial(s, 100.0));
    EXPECT_FALSE(hasAudibleMaterial(s, std::nan("")));

    s.lane(rows.laneAB)->muted = true;
    EXPECT_FALSE(hasAudibleMaterial(s, 0.0));
    // A clip whose row is missing counts as audible; a muted clip does not.
    s.track(rows.a)->laneID = Uuid::random();
    EXPECT_TRUE(hasAudibleMaterial(s, 0.0));
    s.track(rows.a)->muted = true;
    EXPECT_FALSE(hasAudibleMaterial(s, 0.0));
    s.track(rows.b)->laneID.reset();
    EXPECT_TRUE(hasAudibleMaterial(s, 0.0));
    EXPECT_FALSE(hasAudibleMaterial(Session{}, -1.0));
}

// ---- what plays while recording ----

TEST(RecordingPlayback, NothingToPlayGivesNone) {
    TwoRows rows;
    const PunchPlan plan{1.0, std::nullopt, std::nullopt};
    EXPECT_EQ(recordingPlayback(Session{}, plan, 10.0, true, std::nullopt), std::nullopt);
    EXPECT_EQ(recordingPlayback(rows.session, plan, 10.0, false, std::nullopt), std::nullopt);
    // Material only after the end of the project.
    const PunchPlan late{7.0, std::nullopt, std::nullopt};
    EXPECT_EQ(recordingPlayback(rows.session, late, 10.0, true, std::nullopt), std::nullopt);
    // Clicks over nothing and a length below one frame.
    EXPECT_EQ(recordingPlayback(Session{}, plan, 0.0, true, BeatGrid{}), std::nullopt);
    EXPECT_EQ(recordingPlayback(Session{}, plan, std::nan(""), true, BeatGrid{}), std::nullopt);
    // Less than one frame of project left after the origin: the mixdown's refusal is thrown.
    const PunchPlan almostEnd{7.0 - 0.1 / 48000, std::nullopt, std::nullopt};
    EXPECT_THROW(recordingPlayback(rows.session, almostEnd, 1.0, true, std::nullopt), StudioError);
}

// What is heard while recording is what playback and export give: the clips through their racks.
TEST(RecordingPlayback, ClipsSoundThroughTheirRacks) {
    Session s;
    Track clip = Track::make("A", test::constant(2 * 48000, 0.25f));
    clip.rack = {EffectSlot(EffectPreset::invert)};
    s.appendOnNewLane(std::move(clip));
    const auto heard = recordingPlayback(s, PunchPlan{0.5, std::nullopt, std::nullopt}, 1.0, true, std::nullopt);
    ASSERT_TRUE(heard);
    ASSERT_EQ(heard->frames(), 72000);
    EXPECT_EQ(heard->left[0], -0.25f);
    EXPECT_EQ(heard->right[71999], -0.25f);
    EXPECT_EQ(*heard, RackRenderer::mix(s, TimeRange{0.5, 2.0}));
    // With clicks the mix under them is the rendered one too; a bypassed rack plays dry.
    s.tracks[0].rackBypassed = true;
    const auto dry = recordingPlayback(s, PunchPlan{0.5, std::nullopt, std::nullopt}, 1.0, true, BeatGrid{});
    ASSERT_TRUE(dry);
    EXPECT_EQ(dry->left[4000], 0.25f);
}

TEST(RecordingPlayback, ProjectMixFromOriginWithTheWindowSilenced) {
    Session s;
    const Uuid id = s.appendOnNewLane(test::clip("A", 4 * 48000, 0.0));
    const Session before = s;
    const auto whole = RackRenderer::mix(s, TimeRange{0.0, 4.0});
    const auto mix = recordingPlayback(s, windowPlan(0.5, 1.0, 2.0, id), 1.0, true, std::nullopt);
    ASSERT_TRUE(mix);
    EXPECT_EQ(mix->frames(), static_cast<std::int64_t>(3.5 * 48000));  // origin … project end
    expectSilencedExactly(*mix, 24000, 72000);
    EXPECT_EQ(mix->left[0], whole.left[24000]);
    EXPECT_EQ(mix->right[100000], whole.right[124000]);
    EXPECT_EQ(s, before);  // the project itself is not silenced
    // Without a target nothing is silenced.
    const auto plain = recordingPlayback(s, windowPlan(0.5, 1.0, 2.0), 1.0, true, std::nullopt);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->left[30000], whole.left[54000]);
}

TEST(RecordingPlayback, ClicksOverSilenceMatchTheClickFormula) {
    // Tempo 120: beats every 0.5 s. Origin 0.51 s: beat 1 (0.5 s) began 10 ms before frame 0.
    const BeatGrid grid{120.0, 4};
    const auto out = recordingPlayback(Session{}, PunchPlan{0.51, std::nullopt, std::nullopt}, 2.0, true, grid);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->frames(), 96000);
    // Frame 0 is sample 480 of the normal click of beat 1.
    EXPECT_NEAR(out->left[0], clickSample(1320, 0.38, 480), 1e-6);
    EXPECT_NEAR(out->right[959], clickSample(1320, 0.38, 1439), 1e-6);
    EXPECT_EQ(out->left[960], 0.0f);
    // Beat 4 (2.0 s) is an accent at 1.49 s into the buffer: frame 71520.
    for (int n : {0, 7, 700, 1439}) EXPECT_NEAR(out->left[71520 + n], clickSample(1760, 0.7, n), 1e-6);
    EXPECT_EQ(out->left[71519], 0.0f);
    // Beat 2 (1.0 s) is a normal click at frame 23520.
    EXPECT_NEAR(out->right[23520 + 10], clickSample(1320, 0.38, 10), 1e-6);
    // Beat 6 (3.0 s) lies at frame 119520, beyond the buffer: nothing is written outside.
}

TEST(RecordingPlayback, ClicksPadTheMixToTheLengthAtMostEightMinutes) {
    Session s;
    s.appendOnNewLane(test::clip("A", 48000, 0.0));
    const auto padded = recordingPlayback(s, PunchPlan{0.0, std::nullopt, std::nullopt}, 3.0, true, BeatGrid{});
    ASSERT_TRUE(padded);
    EXPECT_EQ(padded->frames(), 3 * 48000);
    // The accent at 0 is added to the mix; the padding carries the click at 1.0 s.
    EXPECT_NEAR(padded->left[0], 0.25 + 0.7, 1e-6);
    EXPECT_NEAR(padded->left[48000], clickSample(1320, 0.38, 0), 1e-6);
    // A mix longer than the length is kept whole.
    const auto longer = recordingPlayback(s, PunchPlan{0.0, std::nullopt, std::nullopt}, 0.5, true, BeatGrid{});
    ASSERT_TRUE(longer);
    EXPECT_EQ(longer->frames(), 48000);

    const auto capped = recordingPlayback(Session{}, PunchPlan{0.0, std::nullopt, std::nullopt}, 1e9, true,
                                          BeatGrid{300.0, 1});
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->frames(), limits::kMaxFrames);
    // Every beat is an accent with one beat per bar: beat 2399 lies at 479.8 s.
    EXPECT_NEAR(capped->left[limits::kMaxFrames - 9600], clickSample(1760, 0.7, 0), 1e-6);
}
