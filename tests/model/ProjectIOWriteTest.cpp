// The writer, read back by Python's plistlib, and the round trip through our reader.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "BplistTestSupport.h"
#include "model/ProjectIO.h"
#include "support/TestAudio.h"

using namespace tessoral;
using nlohmann::json;

namespace {

// What plistlib sees in a project file: root keys, version, and per clip its keys, the
// byte counts of its sample blocks and its mix fields.
json summary(const Session& s) {
    test::TempFolder dir;
    const auto file = dir / "p.tessoral";
    ProjectIO::save(s, file);
    bool ok = false;
    const std::string out = test::python(R"(
import plistlib, sys, json
d = plistlib.load(open(sys.argv[1], 'rb'))
out = {'keys': list(d.keys()), 'version': d['version'], 'tracks': []}
for t in d['tracks']:
    e = {'keys': list(t.keys())}
    for k in ('left', 'right', 'headLeft', 'headRight', 'tailLeft', 'tailRight'):
        if k in t: e[k] = len(t[k])
    for k in ('gainDB', 'pan', 'muted', 'solo', 'fadeIn', 'fadeOut', 'name', 'color', 'rack', 'punchTake'):
        if k in t: e[k] = t[k] if k != 'rack' else len(t[k])
    out['tracks'].append(e)
if 'lanes' in d: out['lanes'] = len(d['lanes'])
out['markers'] = len(d['markers'])
print(json.dumps(out))
)", {file.string()}, &ok);
    EXPECT_TRUE(ok) << out;
    return json::parse(out, nullptr, false);
}

// A project whose every row holds one clip of the row's name and colour.
Session foldable(int rows) {
    Session s;
    for (int i = 0; i < rows; ++i) {
        Lane row;
        row.name = "Row " + std::to_string(i);
        row.color = i;
        Track clip = test::clip(row.name, 480, i * 0.5);
        clip.color = i;
        clip.laneID = row.id;
        s.lanes.push_back(row);
        s.tracks.push_back(clip);
    }
    return s;
}

const std::vector<std::string> kOrder = {
    "id", "name", "left", "right", "start", "gainDB", "pan", "muted", "solo", "color", "rack", "rackBypassed",
    "essentialSound", "fadeIn", "fadeOut", "fadeInCurve", "fadeOutCurve", "volumeEnvelope", "panEnvelope",
    "laneID", "headLeft", "headRight", "tailLeft", "tailRight", "punchTake", "handleVolume", "handlePan"};

// The clip's keys are a subsequence of the 27 keys in their order.
bool inOrder(const json& keys) {
    std::size_t at = 0;
    for (const auto& k : keys) {
        while (at < kOrder.size() && kOrder[at] != k.get<std::string>()) ++at;
        if (at == kOrder.size()) return false;
        ++at;
    }
    return true;
}

std::size_t keyCount(const json& clip, const char* key) {
    return static_cast<std::size_t>(std::count(clip["keys"].begin(), clip["keys"].end(), key));
}

TEST(ProjectIOWrite, OneClipPerRowFoldsIntoVersion2) {
    Session s = foldable(2);
    s.lanes[0].gainDB = -3, s.lanes[0].pan = 0.5, s.lanes[0].muted = true;
    s.tracks[1].solo = true;  // a soloed clip on a row that is not: dropped
    s.markers.push_back(SessionMarker{Uuid::random(), "m", 1.0, std::nullopt});
    s.tracks[0].rack.push_back(EffectSlot(EffectPreset::echo));  // no parameters: no version 3
    s.tracks[0].punchTake = true;
    s.autoCrossfade = false;
    const json j = summary(s);
    EXPECT_EQ(j["version"], 2);
    EXPECT_EQ(j["keys"], json({"version", "sampleRate", "masterDB", "tracks", "markers", "tempo", "beatsPerBar",
                               "autoCrossfade"}));
    ASSERT_EQ(j["tracks"].size(), 2u);
    const json &a = j["tracks"][0], &b = j["tracks"][1];
    EXPECT_EQ(a["gainDB"], -3.0);
    EXPECT_EQ(a["pan"], 0.5);
    EXPECT_EQ(a["muted"], true);
    EXPECT_EQ(a["solo"], false);
    EXPECT_EQ(a["punchTake"], true);
    EXPECT_EQ(b["solo"], false);
    EXPECT_EQ(b["rack"], 0);
    EXPECT_EQ(keyCount(b, "punchTake"), 0u);
    EXPECT_EQ(j["markers"], 1);
    for (const auto& t : j["tracks"]) {
        EXPECT_TRUE(inOrder(t["keys"])) << t["keys"];
        EXPECT_EQ(keyCount(t, "laneID"), 0u);
        EXPECT_EQ(t["left"], 480 * 4);
        EXPECT_EQ(t["right"], 480 * 4);
    }
}

// Version 2 unless a clip or the project uses what it cannot hold; version 4 when the rows
// cannot be folded into their clips.
TEST(ProjectIOWrite, VersionFollowsWhatTheProjectUses) {
    struct Case {
        const char* what;
        int rows;
        std::function<void(Session&)> change;
        int version;
    };
    const Case cases[] = {
        {"empty project", 0, [](Session&) {}, 2},
        {"tempo of an empty project", 0, [](Session& s) { s.tempo = 90; }, 3},
        {"fade-out", 2, [](Session& s) { s.tracks[1].fadeOut = 0.1; }, 3},
        {"tempo", 2, [](Session& s) { s.tempo = 100; }, 3},
        {"metre", 1, [](Session& s) { s.beatsPerBar = 3; }, 3},
        {"essential sound", 1, [](Session& s) { s.tracks[0].essentialSound = EssentialSound(SoundType::music); }, 3},
        {"volume envelope", 1, [](Session& s) { s.tracks[0].volumeEnvelope = {{0.0, -6.0}}; }, 3},
        {"effect parameters", 1,
         [](Session& s) {
             EffectSlot slot(EffectPreset::echo);
             slot.params["mix"] = 0.5;
             s.tracks[0].rack.push_back(slot);
         },
         3},
        // A pan envelope on a row with pan 0 folds; the clip's own pan is written.
        {"pan envelope", 1, [](Session& s) { s.tracks[0].panEnvelope = {{0.0, 0.3}}, s.tracks[0].pan = 0.3; }, 3},
        {"row without clips", 2, [](Session& s) { s.lanes.push_back(Lane{}); }, 4},
        {"row with two clips", 2, [](Session& s) { s.tracks[1].laneID = s.lanes[0].id; }, 4},
        {"name differs", 1, [](Session& s) { s.tracks[0].name = "Other"; }, 4},
        {"colour differs", 1, [](Session& s) { s.tracks[0].color = 5; }, 4},
        {"clip gain", 1, [](Session& s) { s.tracks[0].gainDB = -3; }, 4},
        {"muted clip", 1, [](Session& s) { s.tracks[0].muted = true; }, 4},
        {"pan envelope on a panned row", 1, [](Session& s) { s.lanes[0].pan = 0.5, s.tracks[0].panEnvelope = {{0.0, 0.1}}; }, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Session s = foldable(c.rows);
        c.change(s);
        const json j = summary(s);
        EXPECT_EQ(j["version"], c.version);
        EXPECT_EQ(j.contains("lanes"), c.version == 4);
        for (const auto& t : j["tracks"]) EXPECT_EQ(keyCount(t, "laneID"), c.version == 4 ? 1u : 0u);
        if (std::string(c.what) == "pan envelope") {
            EXPECT_EQ(j["tracks"][0]["pan"], 0.3);
        }
    }
}

TEST(ProjectIOWrite, FadeKeysAndSampleBytes) {
    Session s = foldable(1);
    s.tracks[0] = test::clip("Row 0", 48000);
    s.tracks[0].laneID = s.lanes[0].id;
    s.tracks[0].fadeIn = 0.5;
    const json t = summary(s)["tracks"][0];
    EXPECT_EQ(t["left"], 192000);
    EXPECT_EQ(t["right"], 192000);
    EXPECT_EQ(t["fadeIn"], 0.5);
    EXPECT_EQ(t["fadeOut"], 0.0);
    EXPECT_EQ(keyCount(t, "fadeInCurve") + keyCount(t, "fadeOutCurve"), 2u);
}

// A clip without a row: the written file folds the row made for it.
TEST(ProjectIOWrite, RowlessClipIsSavedWithARow) {
    Session s;
    s.tracks.push_back(test::clip("a", 100));
    s.tracks[0].gainDB = -6;
    test::TempFolder dir;
    ProjectIO::save(s, dir / "p.tessoral");
    const Session back = ProjectIO::load(dir / "p.tessoral");
    ASSERT_EQ(back.lanes.size(), 1u);
    EXPECT_EQ(back.lanes[0].gainDB, -6);
    EXPECT_EQ(back.tracks[0].gainDB, 0);
}

// Everything that is stored comes back; drawing caches are rebuilt, revisions are new.
TEST(ProjectIORoundTrip, Version4KeepsEveryStoredField) {
    Session s;
    s.masterDB = -2.5, s.tempo = 133.5, s.beatsPerBar = 7, s.autoCrossfade = false;
    s.markers = {{Uuid::random(), "Начало", 0.0, std::nullopt}, {Uuid::random(), "Range", 1.5, 3.25}};
    const Lane a{Uuid::random(), "Голос", 3, -4.0, -0.25, false, true}, b{Uuid::random(), "Music", 6, 2.0, 0.75, true};
    s.lanes = {a, b, Lane{Uuid::random(), "Empty", 1}};
    Track one = Track::make("Клип «один»", test::noise(4800, 0.5f, 7));
    one.laneID = a.id, one.start = 1.25, one.gainDB = 3.5, one.pan = -0.5, one.color = 3;
    EffectSlot slot(EffectPreset::parametricEQ);
    slot.enabled = false, slot.wet = 0.4, slot.params = {{"gain1", -3.0}, {"freq1", 1000.0}};
    one.rack = {slot, EffectSlot(EffectPreset::limiter)};
    one.rackBypassed = true;
    EssentialSound es(SoundType::dialogue);
    es.humFrequency = 60, es.reduceNoise = {true, 7.5}, es.slotIDs["denoise"] = slot.id;
    one.essentialSound = es;
    one.fadeIn = 0.02, one.fadeOut = 0.03;
    one.fadeInCurve = FadeCurve::cosine, one.fadeOutCurve = FadeCurve::logarithmic;
    one.volumeEnvelope = {{0.0, -6.0}, {0.05, 0.0}, {0.05, 3.0}};
    one.panEnvelope = {{0.01, -1.0}};
    one.headHandle = test::noise(960, 0.3f, 8);
    one.tailHandle = test::noise(480, 0.3f, 9);
    one.handleEnvelopes = HandleEnvelopes{{{0.0, -1.0}}, {{0.0, 0.5}, {0.1, -0.5}}};
    one.punchTake = true;
    Track two = Track::make("two", test::noise(2400, 0.9f, 10));
    two.laneID = a.id, two.start = 3.0, two.muted = two.solo = true;
    Track three = Track::make("three", test::constant(100, -0.125f));
    three.laneID = b.id;
    s.tracks = {one, two, three};

    test::TempFolder dir;
    ProjectIO::save(s, dir / "p.tessoral");
    Session back = ProjectIO::load(dir / "p.tessoral");
    ASSERT_EQ(back.tracks.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NE(back.tracks[i].revision, s.tracks[i].revision);
        back.tracks[i].revision = s.tracks[i].revision;
        EXPECT_EQ(back.tracks[i], s.tracks[i]) << i;
    }
    EXPECT_EQ(back, s);
}

TEST(ProjectIORoundTrip, Version2GivesOneRowPerClipBack) {
    Session s = foldable(3);
    s.lanes[1].gainDB = -9, s.lanes[1].pan = -0.2, s.lanes[2].muted = s.lanes[2].solo = true;
    test::TempFolder dir;
    ProjectIO::save(s, dir / "p.tessoral");
    const Session back = ProjectIO::load(dir / "p.tessoral");
    ASSERT_EQ(back.lanes.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        Lane expected = s.lanes[i];
        expected.id = back.lanes[i].id;  // rows are made anew
        EXPECT_EQ(back.lanes[i], expected);
        EXPECT_EQ(back.tracks[i].laneID, back.lanes[i].id);
        EXPECT_EQ(back.tracks[i].audio, s.tracks[i].audio);
        EXPECT_TRUE(back.tracks[i].gainDB == 0 && !back.tracks[i].muted && !back.tracks[i].solo);
    }
}

}  // namespace
