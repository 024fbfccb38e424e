#include <gtest/gtest.h>

#include <cmath>

#include "model/Limits.h"
#include "model/Localization.h"
#include "model/Session.h"
#include "model/StudioError.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

Lane makeLane(const std::string& name, bool solo = false, bool muted = false) {
    Lane l;
    l.name = name;
    l.solo = solo;
    l.muted = muted;
    return l;
}

Track onLane(const Lane& lane, double start, std::int64_t frames, const std::string& name = "c") {
    Track t = test::clip(name, frames, start);
    t.laneID = lane.id;
    return t;
}

std::string thrownMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const StudioError& e) {
        return e.message();
    }
    return "";
}

}  // namespace

TEST(LaneSolo, SoloOnlyCountsOnRowsOrForRowlessClips) {
    Session s;
    s.lanes = {makeLane("a"), makeLane("b")};
    Track soloed = onLane(s.lanes[0], 0, 10);
    soloed.solo = true;  // a clip's own solo on a row does not count
    s.tracks = {soloed, onLane(s.lanes[1], 0, 10)};
    EXPECT_FALSE(s.soloActive());
    EXPECT_TRUE(s.isAudible(s.tracks[1]));

    s.lanes[0].solo = true;
    EXPECT_TRUE(s.soloActive());
    EXPECT_TRUE(s.isAudible(s.tracks[0]));
    EXPECT_FALSE(s.isAudible(s.tracks[1]));
    Track mutedOnSoloRow = onLane(s.lanes[0], 0, 10);
    mutedOnSoloRow.muted = true;
    EXPECT_FALSE(s.isAudible(mutedOnSoloRow));

    Track rowless = test::clip("x", 10);
    rowless.laneID = Uuid::random();  // names no row
    EXPECT_FALSE(s.isAudible(rowless));
    rowless.solo = true;
    EXPECT_TRUE(s.isAudible(rowless));
    // A muted row silences even a soloed row's rules.
    s.lanes[0].muted = true;
    EXPECT_FALSE(s.isAudible(s.tracks[0], true));
}

TEST(LaneQueries, ClipNearAndOverlapping) {
    Session s;
    s.lanes = {makeLane("a")};
    const Uuid row = s.lanes[0].id;
    s.tracks = {onLane(s.lanes[0], 1, 96000, "second"), onLane(s.lanes[0], 0, 96000, "first")};
    EXPECT_EQ(s.clipNear(row, 1.5)->name, "second");
    EXPECT_EQ(s.clipNear(row, 0.5)->name, "first");
    EXPECT_EQ(s.clipNear(row, 10)->name, "first");
    EXPECT_EQ(s.clipNear(row, 3.0)->name, "first");  // the clip ending at 3 s does not contain 3 s
    EXPECT_EQ(s.clipNear(Uuid::random(), 1), nullptr);

    // Equal overlap: the later-starting clip wins; touching is no overlap.
    EXPECT_EQ(s.clipOverlapping(row, {1.0, 2.0})->name, "second");
    EXPECT_EQ(s.clipOverlapping(row, {0.0, 1.5})->name, "first");
    EXPECT_EQ(s.clipOverlapping(row, {3.0, 4.0}), nullptr);

    // Equal starts keep project order.
    s.tracks.push_back(onLane(s.lanes[0], 0, 10, "third"));
    const auto clips = s.clipsInLane(row);
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips[0]->name, "first");
    EXPECT_EQ(clips[1]->name, "third");
}

TEST(LaneNormalization, MovesClipSettingsToANewRow) {
    Session s;
    Track t = test::clip("voice", 100);
    t.gainDB = -6;
    t.pan = 0.3;
    t.muted = true;
    t.solo = true;
    t.color = 5;
    s.tracks = {t};
    EXPECT_TRUE(s.needsLaneNormalization());
    s.normalizeLanes();
    EXPECT_FALSE(s.needsLaneNormalization());
    ASSERT_EQ(s.lanes.size(), 1u);
    const Lane& row = s.lanes[0];
    EXPECT_EQ(row.name, "voice");
    EXPECT_EQ(row.color, 5);
    EXPECT_EQ(row.gainDB, -6);
    EXPECT_EQ(row.pan, 0.3);
    EXPECT_TRUE(row.muted);
    EXPECT_TRUE(row.solo);
    const Track& c = s.tracks[0];
    EXPECT_EQ(c.gainDB, 0);
    EXPECT_EQ(c.pan, 0);
    EXPECT_FALSE(c.muted);
    EXPECT_FALSE(c.solo);
    EXPECT_EQ(c.laneID, row.id);

    // Normalising again changes nothing.
    const Session before = s;
    s.normalizeLanes();
    EXPECT_EQ(s, before);
}

TEST(LaneNormalization, KeepsWhatTheRowCannotCarry) {
    Session s;
    Track enveloped = test::clip("a", 100);
    enveloped.pan = 0.3;
    enveloped.panEnvelope = {{0, 0.5}};
    Track matched = test::clip("b", 100);
    matched.gainDB = -6;
    matched.essentialSound = EssentialSound(SoundType::dialogue);
    Track panorama = test::clip("c", 100);
    panorama.pan = -0.4;
    panorama.essentialSound = EssentialSound(SoundType::effects);
    panorama.essentialSound->panorama.enabled = true;
    // A row gain outside −60…12 dB would make the saved project unreadable: it stays on the clip.
    Track loud = test::clip("d", 100);
    loud.gainDB = 20;
    Track quiet = test::clip("e", 100);
    quiet.gainDB = -80;
    Track edge = test::clip("f", 100);
    edge.gainDB = 12;
    s.tracks = {enveloped, matched, panorama, loud, quiet, edge};
    s.normalizeLanes();
    ASSERT_EQ(s.lanes.size(), 6u);
    EXPECT_EQ(s.tracks[0].pan, 0.3);
    EXPECT_EQ(s.lanes[0].pan, 0);
    EXPECT_EQ(s.tracks[1].gainDB, -6);
    EXPECT_EQ(s.lanes[1].gainDB, 0);
    EXPECT_EQ(s.tracks[2].pan, -0.4);
    EXPECT_EQ(s.tracks[3].gainDB, 20);
    EXPECT_EQ(s.lanes[3].gainDB, 0);
    EXPECT_EQ(s.tracks[4].gainDB, -80);
    EXPECT_EQ(s.lanes[5].gainDB, 12);
    EXPECT_EQ(s.tracks[5].gainDB, 0);
}

TEST(LaneNormalization, DeletedRowGetsANewBottomRow) {
    Session s;
    s.lanes = {makeLane("kept")};
    Track ok = onLane(s.lanes[0], 0, 10);
    Track orphan = test::clip("orphan", 10);
    orphan.laneID = Uuid::random();
    s.tracks = {ok, orphan};
    s.normalizeLanes();
    ASSERT_EQ(s.lanes.size(), 2u);
    EXPECT_EQ(s.lanes[1].name, "orphan");
    EXPECT_EQ(s.tracks[1].laneID, s.lanes[1].id);
    EXPECT_EQ(s.tracks[0].laneID, s.lanes[0].id);
}

TEST(LanePlacement, AppendOnNewLaneClampsTheIndex) {
    Session s;
    s.lanes = {makeLane("a"), makeLane("b"), makeLane("c")};
    Track t = test::clip("top", 10);
    t.gainDB = -3;
    s.appendOnNewLane(t, -5);
    EXPECT_EQ(s.lanes[0].name, "top");
    EXPECT_EQ(s.tracks.back().gainDB, -3);  // the clip keeps its own gain
    EXPECT_EQ(s.lanes[0].gainDB, 0);
    s.appendOnNewLane(test::clip("bottom", 10), 99);
    EXPECT_EQ(s.lanes.back().name, "bottom");
    EXPECT_EQ(s.tracks.back().laneID, s.lanes.back().id);
}

TEST(LanePlacement, SplitClip) {
    Session s;
    Track t = test::clip("take", 48000, 1.0);
    t.fadeIn = 0.1;
    t.fadeOut = 0.2;
    t.headHandle = test::constant(100);
    t.handleEnvelopes = HandleEnvelopes{};
    t.rack.push_back(EffectSlot(EffectPreset::invert));
    t.audio = test::noise(48000, 0.5f);
    s.appendOnNewLane(t);
    const Uuid id = t.id;
    EXPECT_FALSE(s.splitClip(id, 0));
    EXPECT_FALSE(s.splitClip(id, 48000));
    EXPECT_FALSE(s.splitClip(Uuid::random(), 10));
    const AudioData original = s.tracks[0].audio;
    const Uuid oldRevision = s.tracks[0].revision;

    const auto right = s.splitClip(id, 12000);
    ASSERT_TRUE(right);
    ASSERT_EQ(s.tracks.size(), 2u);
    const Track& l = s.tracks[0];
    const Track& r = s.tracks[1];
    EXPECT_EQ(l.id, id);
    EXPECT_EQ(r.id, *right);
    EXPECT_EQ(l.frames(), 12000);
    EXPECT_EQ(r.frames(), 36000);
    EXPECT_EQ(r.name, "take \u00B7 2");
    EXPECT_DOUBLE_EQ(r.start, 1.25);
    EXPECT_EQ(l.fadeIn, 0.1);
    EXPECT_EQ(l.fadeOut, 0);
    EXPECT_EQ(r.fadeIn, 0);
    EXPECT_EQ(r.fadeOut, 0.2);
    EXPECT_FALSE(l.headHandle || r.headHandle || l.handleEnvelopes || r.handleEnvelopes);
    EXPECT_EQ(r.laneID, l.laneID);
    EXPECT_EQ(r.rack, l.rack);
    EXPECT_NE(l.revision, oldRevision);
    EXPECT_NE(r.revision, l.revision);
    EXPECT_EQ(l.audio.left[11999], original.left[11999]);
    EXPECT_EQ(r.audio.right[0], original.right[12000]);
    EXPECT_EQ(l.peaks.toVector(), l.audio.peaks(1800));
    EXPECT_EQ(l.peaks.size(), 1715u);  // chunk ceil(12000 / 1800) = 7
}

TEST(LanePlacement, SplitAndDuplicateRespectTheClipLimit) {
    Session s;
    for (int i = 0; i < limits::kMaxClips; ++i) s.appendOnNewLane(test::clip("c", 10));
    EXPECT_FALSE(s.splitClip(s.tracks[0].id, 5));
    EXPECT_FALSE(s.duplicateClip(s.tracks[0].id));
}

TEST(LanePlacement, DuplicateClipPlacement) {
    Session s;
    s.appendOnNewLane(test::clip("ten", 480000, 465.0));  // 10 s ending at 475 s
    const auto copy = s.duplicateClip(s.tracks[0].id);
    ASSERT_TRUE(copy);
    const Track* c = s.track(*copy);
    EXPECT_DOUBLE_EQ(c->start, 470.0);
    EXPECT_EQ(c->name, L("{0} · копия", "ten"));
    EXPECT_EQ(c->revision, s.tracks[0].revision);
    EXPECT_EQ(c->laneID, s.tracks[0].laneID);
    EXPECT_TRUE(c->audio.left.sharesStorageWith(s.tracks[0].audio.left));
    EXPECT_EQ(s.tracks[1].id, *copy);

    Session full;
    full.appendOnNewLane(test::clip("long", 23'040'000, 0.0));
    const auto over = full.duplicateClip(full.tracks[0].id);
    ASSERT_TRUE(over);
    EXPECT_EQ(full.track(*over)->start, 0.0);
}

TEST(LanePlacement, DuplicateClipBudget) {
    Session s;
    // Two clips of 192 MiB − 8 bytes leave room for nothing more.
    const std::int64_t frames = limits::kMaxBytes / 16;
    Track big = test::clip("big", frames);
    s.appendOnNewLane(big);
    ASSERT_TRUE(s.duplicateClip(s.tracks[0].id));  // equal to the budget is allowed
    EXPECT_EQ(s.bytes(), limits::kMaxBytes);
    s.tracks.push_back(test::clip("tiny", 1));
    EXPECT_FALSE(s.duplicateClip(s.tracks.back().id));
}

TEST(LanePlacement, DuplicateLane) {
    Session s;
    Lane row = makeLane("drums");
    row.color = 7;
    row.gainDB = -2;
    s.lanes = {row, makeLane("other")};
    s.tracks = {onLane(s.lanes[0], 0, 10, "a"), onLane(s.lanes[1], 0, 10, "x"), onLane(s.lanes[0], 5, 10, "b")};
    const auto id = s.duplicateLane(row.id);
    ASSERT_TRUE(id);
    ASSERT_EQ(s.lanes.size(), 3u);
    EXPECT_EQ(s.lanes[1].id, *id);
    EXPECT_EQ(s.lanes[1].color, 0);
    EXPECT_EQ(s.lanes[1].gainDB, -2);
    EXPECT_EQ(s.lanes[1].name, L("{0} · копия", "drums"));
    ASSERT_EQ(s.tracks.size(), 5u);
    EXPECT_EQ(s.tracks[3].name, "a");
    EXPECT_EQ(s.tracks[4].name, "b");
    EXPECT_EQ(s.tracks[4].laneID, *id);
    EXPECT_EQ(s.tracks[4].color, 0);
    EXPECT_DOUBLE_EQ(s.tracks[4].start, 5);
    EXPECT_FALSE(s.duplicateLane(Uuid::random()));
}

TEST(LanePlacement, DuplicateLaneLimits) {
    Session s;
    s.lanes = {makeLane("three")};
    for (int i = 0; i < 3; ++i) s.tracks.push_back(onLane(s.lanes[0], i, 10));
    while (s.tracks.size() < 254) s.appendOnNewLane(test::clip("f", 1));
    EXPECT_FALSE(s.duplicateLane(s.lanes[0].id));

    Session rows;
    for (int i = 0; i < limits::kMaxLanes; ++i) rows.lanes.push_back(makeLane("r"));
    EXPECT_FALSE(rows.duplicateLane(rows.lanes[0].id));
}

TEST(LanePlacement, PasteClipChecksInOrder) {
    Session s;
    EXPECT_EQ(thrownMessage([&] { s.pasteClip(AudioData(), "x", std::nullopt, 0); }), L("Буфер обмена пуст."));
    EXPECT_EQ(thrownMessage([&] { s.pasteClip(test::constant(480000), "x", std::nullopt, 475); }),
              L("Длина проекта ограничена 8 минутами."));
    EXPECT_EQ(thrownMessage([&] { s.pasteClip(test::constant(10), "x", Uuid::random(), 0); }), "Дорожка удалена.");
    for (int i = 0; i < limits::kMaxLanes; ++i) s.lanes.push_back(makeLane("r"));
    EXPECT_EQ(thrownMessage([&] { s.pasteClip(test::constant(10), "x", std::nullopt, 0); }),
              "Можно добавить до 32 дорожек.");
    EXPECT_TRUE(s.tracks.empty());
    EXPECT_EQ(s.lanes.size(), 32u);

    Session full;
    for (int i = 0; i < limits::kMaxClips; ++i) full.tracks.push_back(test::clip("c", 1));
    EXPECT_EQ(thrownMessage([&] { full.pasteClip(test::constant(10), "x", std::nullopt, 0); }),
              "В проекте может быть до 256 клипов.");
}

TEST(LanePlacement, PasteClipPlacesTheClip) {
    Session s;
    for (int i = 0; i < 5; ++i) s.lanes.push_back(makeLane("r"));
    s.lanes[2].color = 3;
    const Uuid a = s.pasteClip(test::constant(10), "new", std::nullopt, -2);
    const Track* t = s.track(a);
    EXPECT_EQ(t->start, 0);
    EXPECT_EQ(t->color, 5);
    EXPECT_EQ(s.lanes.size(), 6u);
    EXPECT_EQ(t->laneID, s.lanes.back().id);
    EXPECT_EQ(s.lanes.back().name, "new");

    const Uuid b = s.pasteClip(test::constant(10), "onrow", s.lanes[2].id, std::nan(""));
    t = s.track(b);
    EXPECT_EQ(t->start, 0);
    EXPECT_EQ(t->color, 3);
    EXPECT_EQ(t->laneID, s.lanes[2].id);
    EXPECT_EQ(s.lanes.size(), 6u);
    EXPECT_EQ(t->peaks.size(), 10u);
}

TEST(LanePlacement, MoveLane) {
    Session s;
    for (const char* n : {"a", "b", "c", "d"}) s.lanes.push_back(makeLane(n));
    EXPECT_TRUE(s.moveLane(s.lanes[0].id, 10));
    EXPECT_EQ(s.lanes[3].name, "a");
    EXPECT_FALSE(s.moveLane(s.lanes[3].id, 3));
    EXPECT_TRUE(s.moveLane(s.lanes[3].id, -4));
    EXPECT_EQ(s.lanes[0].name, "a");
    EXPECT_FALSE(s.moveLane(Uuid::random(), 0));
}

TEST(LanePlacement, IsolatedLane) {
    Session s;
    Lane row = makeLane("row", true, true);
    row.gainDB = -9;
    row.pan = 0.5;
    row.color = 4;
    s.lanes = {makeLane("other"), row};
    s.tracks = {onLane(s.lanes[1], 0, 10, "a"), onLane(s.lanes[0], 0, 10, "x"), onLane(s.lanes[1], 1, 10, "b")};
    s.autoCrossfade = false;
    s.tempo = 200;
    const Session one = s.isolatedLane(row.id);
    ASSERT_EQ(one.lanes.size(), 1u);
    EXPECT_EQ(one.lanes[0].id, row.id);
    EXPECT_EQ(one.lanes[0].color, 4);
    EXPECT_EQ(one.lanes[0].gainDB, 0);
    EXPECT_FALSE(one.lanes[0].muted || one.lanes[0].solo);
    ASSERT_EQ(one.tracks.size(), 2u);
    EXPECT_EQ(one.tracks[1].name, "b");
    EXPECT_FALSE(one.autoCrossfade);
    EXPECT_EQ(one.tempo, 120);
    const Session none = s.isolatedLane(Uuid::random());
    EXPECT_TRUE(none.tracks.empty() && none.lanes.empty());
    EXPECT_TRUE(none.autoCrossfade);
}

TEST(LaneLayout, PlacementsAndOffsets) {
    Session s;
    s.lanes = {makeLane("a"), makeLane("b")};
    Track rowless = test::clip("none", 10);
    s.tracks = {onLane(s.lanes[1], 2, 10, "late"), onLane(s.lanes[0], 0, 10, "first"), rowless,
                onLane(s.lanes[1], 0, 10, "second")};
    const auto p = LaneLayout::placements(s);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].clip->name, "first");
    EXPECT_EQ(p[0].row, 0u);
    EXPECT_EQ(p[1].clip->name, "second");
    EXPECT_EQ(p[1].row, 1u);
    EXPECT_EQ(p[2].clip->name, "late");

    EXPECT_EQ(LaneLayout::laneOffset(45, 30), 2);
    EXPECT_EQ(LaneLayout::laneOffset(-15, 30), -1);
    EXPECT_EQ(LaneLayout::laneOffset(15, 0), 0);
    EXPECT_EQ(LaneLayout::laneOffset(std::nan(""), 30), 0);
    EXPECT_EQ(LaneLayout::laneOffset(HUGE_VAL, 30), 0);
    EXPECT_EQ(LaneLayout::laneOffset(1e300, 1e-300), std::numeric_limits<std::int64_t>::max());
}
