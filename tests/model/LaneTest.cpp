#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "model/Limits.h"
#include "model/Localization.h"
#include "model/Session.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::errorMessage;

namespace {

Lane row(const std::string& name) { return Lane{.name = name}; }

Track onLane(const Lane& lane, double start, std::int64_t frames, const std::string& name = "c") {
    Track t = test::clip(name, frames, start);
    t.laneID = lane.id;
    return t;
}

}  // namespace

TEST(LaneSolo, SoloOnlyCountsOnRowsOrForRowlessClips) {
    Session s;
    s.lanes = {row("a"), row("b")};
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
    s.lanes[0].muted = true;  // a muted row silences even a soloed row
    EXPECT_FALSE(s.isAudible(s.tracks[0], true));
}

TEST(LaneQueries, ClipNearAndOverlapping) {
    Session s;
    s.lanes = {row("a")};
    const Uuid id = s.lanes[0].id;
    s.tracks = {onLane(s.lanes[0], 1, 96000, "second"), onLane(s.lanes[0], 0, 96000, "first")};
    EXPECT_EQ(s.clipNear(id, 1.5)->name, "second");
    EXPECT_EQ(s.clipNear(id, 0.5)->name, "first");
    EXPECT_EQ(s.clipNear(id, 3.0)->name, "first");  // the clip ending at 3 s does not contain 3 s
    EXPECT_EQ(s.clipNear(Uuid::random(), 1), nullptr);
    // Equal overlap: the later-starting clip wins; touching is no overlap.
    EXPECT_EQ(s.clipOverlapping(id, {1.0, 2.0})->name, "second");
    EXPECT_EQ(s.clipOverlapping(id, {0.0, 1.5})->name, "first");
    EXPECT_EQ(s.clipOverlapping(id, {3.0, 4.0}), nullptr);
    // Equal starts keep project order.
    s.tracks.push_back(onLane(s.lanes[0], 0, 10, "third"));
    const auto clips = s.clipsInLane(id);
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips[0]->name + clips[1]->name, "firstthird");
}

TEST(LaneNormalization, MovesClipSettingsToANewRow) {
    Session s;
    Track t = test::clip("voice", 100);
    t.gainDB = -6, t.pan = 0.3, t.muted = t.solo = true, t.color = 5;
    s.tracks = {t};
    EXPECT_TRUE(s.needsLaneNormalization());
    s.normalizeLanes();
    EXPECT_FALSE(s.needsLaneNormalization());
    ASSERT_EQ(s.lanes.size(), 1u);
    EXPECT_EQ(s.lanes[0], (Lane{s.lanes[0].id, "voice", 5, -6, 0.3, true, true}));
    const Track& c = s.tracks[0];
    EXPECT_TRUE(c.gainDB == 0 && c.pan == 0 && !c.muted && !c.solo);
    EXPECT_EQ(c.laneID, s.lanes[0].id);
    const Session before = s;  // normalising again changes nothing
    s.normalizeLanes();
    EXPECT_EQ(s, before);
}

TEST(LaneNormalization, KeepsWhatTheRowCannotCarry) {
    auto clip = [](double gainDB, double pan) {
        Track t = test::clip("c", 100);
        t.gainDB = gainDB, t.pan = pan;
        return t;
    };
    Track enveloped = clip(0, 0.3), matched = clip(-6, 0), panorama = clip(0, -0.4);
    enveloped.panEnvelope = {{0, 0.5}};
    matched.essentialSound = EssentialSound(SoundType::dialogue);
    panorama.essentialSound = EssentialSound(SoundType::effects);
    panorama.essentialSound->panorama.enabled = true;
    // A row gain outside −60…12 dB would make the saved project unreadable: it stays on the clip.
    Session s;
    s.tracks = {enveloped, matched, panorama, clip(20, 0), clip(-80, 0), clip(12, 0)};
    s.normalizeLanes();
    ASSERT_EQ(s.lanes.size(), 6u);
    const double clipGain[] = {0, -6, 0, 20, -80, 0}, rowGain[] = {0, 0, 0, 0, 0, 12};
    const double clipPan[] = {0.3, 0, -0.4, 0, 0, 0};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(s.tracks[i].gainDB, clipGain[i]) << i;
        EXPECT_EQ(s.lanes[i].gainDB, rowGain[i]) << i;
        EXPECT_EQ(s.tracks[i].pan, clipPan[i]) << i;
        EXPECT_EQ(s.lanes[i].pan, 0) << i;
    }
}

TEST(LaneNormalization, DeletedRowGetsANewBottomRow) {
    Session s;
    s.lanes = {row("kept")};
    Track orphan = test::clip("orphan", 10);
    orphan.laneID = Uuid::random();
    s.tracks = {onLane(s.lanes[0], 0, 10), orphan};
    s.normalizeLanes();
    ASSERT_EQ(s.lanes.size(), 2u);
    EXPECT_EQ(s.lanes[1].name, "orphan");
    EXPECT_EQ(s.tracks[0].laneID, s.lanes[0].id);
    EXPECT_EQ(s.tracks[1].laneID, s.lanes[1].id);
}

TEST(LanePlacement, AppendOnNewLaneClampsTheIndex) {
    Session s;
    s.lanes = {row("a"), row("b"), row("c")};
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
    Track t = Track::make("take", test::noise(48000, 0.5f));
    t.start = 1.0;
    t.fadeIn = 0.1, t.fadeOut = 0.2;
    t.headHandle = test::constant(100);
    t.handleEnvelopes = HandleEnvelopes{};
    t.rack.push_back(EffectSlot(EffectPreset::invert));
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
    const Track &l = s.tracks[0], &r = s.tracks[1];
    EXPECT_EQ(l.id, id);
    EXPECT_EQ(r.id, *right);
    EXPECT_EQ(l.frames(), 12000);
    EXPECT_EQ(r.frames(), 36000);
    EXPECT_EQ(r.name, "take \u00B7 2");
    EXPECT_DOUBLE_EQ(r.start, 1.25);
    EXPECT_EQ(std::tuple(l.fadeIn, l.fadeOut, r.fadeIn, r.fadeOut), std::tuple(0.1, 0.0, 0.0, 0.2));
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

TEST(LanePlacement, DuplicateClipPlacementAndBudget) {
    Session s;
    s.appendOnNewLane(test::clip("ten", 480000, 465.0));  // 10 s ending at 475 s
    const auto copy = s.duplicateClip(s.tracks[0].id);
    ASSERT_TRUE(copy);
    ASSERT_EQ(s.tracks[1].id, *copy);
    const Track& c = s.tracks[1];
    EXPECT_DOUBLE_EQ(c.start, 470.0);
    EXPECT_EQ(c.name, L("{0} · копия", "ten"));
    EXPECT_EQ(c.revision, s.tracks[0].revision);
    EXPECT_EQ(c.laneID, s.tracks[0].laneID);
    EXPECT_TRUE(c.audio.left.sharesStorageWith(s.tracks[0].audio.left));

    Session full;
    full.appendOnNewLane(test::clip("long", 23'040'000, 0.0));
    const auto over = full.duplicateClip(full.tracks[0].id);
    ASSERT_TRUE(over);
    EXPECT_EQ(full.track(*over)->start, 0.0);

    // Two clips of 192 MiB − 8 bytes leave room for nothing more.
    Session big;
    big.appendOnNewLane(test::clip("big", limits::kMaxBytes / 16));
    ASSERT_TRUE(big.duplicateClip(big.tracks[0].id));  // equal to the budget is allowed
    EXPECT_EQ(big.bytes(), limits::kMaxBytes);
    big.tracks.push_back(test::clip("tiny", 1));
    EXPECT_FALSE(big.duplicateClip(big.tracks.back().id));
}

TEST(LanePlacement, DuplicateLane) {
    Session s;
    const Lane drums{.name = "drums", .color = 7, .gainDB = -2};
    s.lanes = {drums, row("other")};
    s.tracks = {onLane(drums, 0, 10, "a"), onLane(s.lanes[1], 0, 10, "x"), onLane(drums, 5, 10, "b")};
    const auto id = s.duplicateLane(drums.id);
    ASSERT_TRUE(id);
    ASSERT_EQ(s.lanes.size(), 3u);
    EXPECT_EQ(s.lanes[1], (Lane{*id, L("{0} · копия", "drums"), 0, -2}));
    ASSERT_EQ(s.tracks.size(), 5u);
    EXPECT_EQ(s.tracks[3].name + s.tracks[4].name, "ab");
    EXPECT_EQ(s.tracks[4].laneID, *id);
    EXPECT_EQ(s.tracks[4].color, 0);
    EXPECT_DOUBLE_EQ(s.tracks[4].start, 5);
    EXPECT_FALSE(s.duplicateLane(Uuid::random()));

    Session crowded;  // three copies would pass the clip limit
    crowded.lanes = {row("three")};
    for (int i = 0; i < 3; ++i) crowded.tracks.push_back(onLane(crowded.lanes[0], i, 10));
    while (crowded.tracks.size() < 254) crowded.appendOnNewLane(test::clip("f", 1));
    EXPECT_FALSE(crowded.duplicateLane(crowded.lanes[0].id));
    Session rows;
    for (int i = 0; i < limits::kMaxLanes; ++i) rows.lanes.push_back(row("r"));
    EXPECT_FALSE(rows.duplicateLane(rows.lanes[0].id));
}

TEST(LanePlacement, PasteClipChecksInOrder) {
    Session s;
    EXPECT_EQ(errorMessage([&] { s.pasteClip(AudioData(), "x", std::nullopt, 0); }), L("Буфер обмена пуст."));
    EXPECT_EQ(errorMessage([&] { s.pasteClip(test::constant(480000), "x", std::nullopt, 475); }),
              L("Длина проекта ограничена 8 минутами."));
    EXPECT_EQ(errorMessage([&] { s.pasteClip(test::constant(10), "x", Uuid::random(), 0); }), "Дорожка удалена.");
    for (int i = 0; i < limits::kMaxLanes; ++i) s.lanes.push_back(row("r"));
    EXPECT_EQ(errorMessage([&] { s.pasteClip(test::constant(10), "x", std::nullopt, 0); }),
              "Можно добавить до 32 дорожек.");
    EXPECT_TRUE(s.tracks.empty());
    EXPECT_EQ(s.lanes.size(), 32u);

    Session full;
    for (int i = 0; i < limits::kMaxClips; ++i) full.tracks.push_back(test::clip("c", 1));
    EXPECT_EQ(errorMessage([&] { full.pasteClip(test::constant(10), "x", std::nullopt, 0); }),
              "В проекте может быть до 256 клипов.");
}

TEST(LanePlacement, PasteClipPlacesTheClip) {
    Session s;
    for (int i = 0; i < 5; ++i) s.lanes.push_back(row("r"));
    s.lanes[2].color = 3;
    const Track* t = s.track(s.pasteClip(test::constant(10), "new", std::nullopt, -2));
    EXPECT_EQ(t->start, 0);
    EXPECT_EQ(t->color, 5);
    ASSERT_EQ(s.lanes.size(), 6u);
    EXPECT_EQ(t->laneID, s.lanes.back().id);
    EXPECT_EQ(s.lanes.back().name, "new");

    t = s.track(s.pasteClip(test::constant(10), "onrow", s.lanes[2].id, test::kNaN));
    EXPECT_EQ(t->start, 0);
    EXPECT_EQ(t->color, 3);
    EXPECT_EQ(t->laneID, s.lanes[2].id);
    EXPECT_EQ(s.lanes.size(), 6u);
    EXPECT_EQ(t->peaks.size(), 10u);
}

TEST(LanePlacement, MoveLane) {
    Session s;
    for (const char* n : {"a", "b", "c", "d"}) s.lanes.push_back(row(n));
    EXPECT_TRUE(s.moveLane(s.lanes[0].id, 10));
    EXPECT_EQ(s.lanes[3].name, "a");
    EXPECT_FALSE(s.moveLane(s.lanes[3].id, 3));
    EXPECT_TRUE(s.moveLane(s.lanes[3].id, -4));
    EXPECT_EQ(s.lanes[0].name, "a");
    EXPECT_FALSE(s.moveLane(Uuid::random(), 0));
}

TEST(LanePlacement, IsolatedLane) {
    Session s;
    const Lane kept{.name = "row", .color = 4, .gainDB = -9, .pan = 0.5, .muted = true, .solo = true};
    s.lanes = {row("other"), kept};
    s.tracks = {onLane(kept, 0, 10, "a"), onLane(s.lanes[0], 0, 10, "x"), onLane(kept, 1, 10, "b")};
    s.autoCrossfade = false;
    s.tempo = 200;
    const Session one = s.isolatedLane(kept.id);
    ASSERT_EQ(one.lanes.size(), 1u);
    EXPECT_EQ(one.lanes[0], (Lane{kept.id, "row", 4}));  // neutral mix settings
    ASSERT_EQ(one.tracks.size(), 2u);
    EXPECT_EQ(one.tracks[1].name, "b");
    EXPECT_FALSE(one.autoCrossfade);
    EXPECT_EQ(one.tempo, 120);
    const Session none = s.isolatedLane(Uuid::random());
    EXPECT_TRUE(none.tracks.empty() && none.lanes.empty() && none.autoCrossfade);
}

TEST(LaneLayout, PlacementsAndOffsets) {
    Session s;
    s.lanes = {row("a"), row("b")};
    s.tracks = {onLane(s.lanes[1], 2, 10, "late"), onLane(s.lanes[0], 0, 10, "first"), test::clip("none", 10),
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
    EXPECT_EQ(LaneLayout::laneOffset(test::kNaN, 30), 0);
    EXPECT_EQ(LaneLayout::laneOffset(test::kInf, 30), 0);
    EXPECT_EQ(LaneLayout::laneOffset(1e300, 1e-300), std::numeric_limits<std::int64_t>::max());
}
