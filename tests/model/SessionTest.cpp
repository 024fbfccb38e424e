#include <gtest/gtest.h>

#include <tuple>

#include "model/Session.h"
#include "support/TestAudio.h"

using namespace tessoral;

TEST(Session, DurationAndBytes) {
    Session s;
    EXPECT_EQ(s.duration(), 0.0);
    EXPECT_EQ(s.bytes(), 0);
    s.tracks.push_back(test::clip("a", 48000, 2.5));
    EXPECT_DOUBLE_EQ(s.duration(), 3.5);
    Track muted = test::clip("b", 480, 0.0);
    muted.muted = true;
    muted.headHandle = test::constant(48000);
    s.tracks.push_back(muted);
    EXPECT_EQ(s.tracks[1].bytes(), (480 + 48000) * 8);
    EXPECT_EQ(s.bytes(), 48000 * 8 + (480 + 48000) * 8);
}

TEST(Session, FramesInRange) {
    Track t = test::clip("a", 1000, 1.0);
    EXPECT_EQ(t.framesIn(std::nullopt), (FrameRange{0, 1000}));
    // Before the clip starts: from frame 0.
    EXPECT_EQ(t.framesIn(TimeRange{0.5, 1.01}), (FrameRange{0, 480}));
    // Wholly after the clip: empty at its end.
    EXPECT_EQ(t.framesIn(TimeRange{5.0, 6.0}), (FrameRange{1000, 1000}));
    // Halves round away from zero: 1.5 frames → 2.
    Track atZero = test::clip("z", 1000, 0.0);
    EXPECT_EQ(atZero.framesIn(TimeRange{1.5 / 48000, 10.0 / 48000}), (FrameRange{2, 10}));
    EXPECT_EQ(atZero.framesIn(TimeRange{0.5 / 48000, 0.25 / 48000}), (FrameRange{1, 1}));
    // Non-finite or huge times saturate instead of overflowing.
    EXPECT_EQ(t.framesIn(TimeRange{test::kNaN, 1e300}), (FrameRange{0, 1000}));
    EXPECT_EQ(t.framesIn(TimeRange{-test::kInf, test::kInf}), (FrameRange{0, 1000}));
}

TEST(Session, IsolatedKeepsOneNeutralClip) {
    Session s;
    s.tempo = 90, s.beatsPerBar = 3, s.masterDB = -4, s.autoCrossfade = false;
    s.markers.push_back(SessionMarker{Uuid::random(), "m", 1.0, std::nullopt});
    Track t = test::clip("a", 100, 3.0);
    t.gainDB = -6, t.pan = 0.5, t.muted = t.solo = true, t.fadeIn = 0.001;
    t.volumeEnvelope = {{0, -3}};
    t.panEnvelope = {{0, 1}};
    t.rack.push_back(EffectSlot(EffectPreset::echo));
    s.appendOnNewLane(t);
    const Session one = s.isolated(t.id);
    ASSERT_EQ(one.tracks.size(), 1u);
    const Track& c = one.tracks[0];
    // The clip's own mix settings are neutral; its fades, rack and row stay.
    EXPECT_EQ(std::tuple(c.gainDB, c.pan, c.muted, c.solo), std::tuple(0.0, 0.0, false, false));
    EXPECT_TRUE(c.volumeEnvelope.empty() && c.panEnvelope.empty());
    EXPECT_EQ(std::tuple(c.fadeIn, c.rack.size(), c.laneID), std::tuple(0.001, 1u, s.tracks[0].laneID));
    // The project around it is neutral too, markers kept.
    EXPECT_TRUE(one.lanes.empty());
    EXPECT_EQ(std::tuple(one.markers.size(), one.masterDB, one.tempo, one.beatsPerBar, one.autoCrossfade),
              std::tuple(1u, 0.0, 120.0, 4, true));

    const Session none = s.isolated(Uuid::random());
    EXPECT_TRUE(none.tracks.empty() && none.markers.empty() && none.autoCrossfade);
    EXPECT_EQ(none.tempo, 120);
}

TEST(TimeLabel, TruncatesNeverWrapsAndIsSafeForAnyTime) {
    const std::pair<double, const char*> cases[] = {
        {480, "08:00.000"}, {75.5, "01:15.500"}, {-3, "00:00.000"}, {0.0019, "00:00.001"}, {3599.9996, "59:59.999"},
        {3600, "60:00.000"}, {test::kNaN, "00:00.000"}, {-test::kInf, "00:00.000"}};
    for (const auto& [t, text] : cases) EXPECT_EQ(timeLabel(t), text) << t;
    // Saturates at the largest millisecond count rather than overflowing.
    const std::string huge = timeLabel(test::kInf);
    EXPECT_EQ(huge, timeLabel(1e300));
    EXPECT_EQ(huge.substr(huge.size() - 4), ".807");
}
