// The seed corpus of the project loader's fuzz target (fuzz/corpus/project): small valid
// files of versions 2, 3 and 4 and hand-made damaged ones. Regenerate for review with
//   TESSORAL_REGENERATE_CORPUS=1 tessoral_model_tests --gtest_filter=ProjectCorpus.*
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "BplistTestSupport.h"
#include "model/Bplist.h"
#include "model/ProjectIO.h"
#include "model/StudioError.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

std::filesystem::path corpus() { return std::filesystem::path(TESSORAL_SOURCE_DIR) / "fuzz/corpus/project"; }

Session version2() {
    Session s;
    for (int i = 0; i < 2; ++i) {
        Lane row{Uuid::random(), "Row " + std::to_string(i), i, -3.0 * i, 0.25 * i, i == 1, false};
        Track t = Track::make(row.name, test::noise(64, 0.5f, static_cast<std::uint64_t>(i + 1)));
        t.color = i;
        t.laneID = row.id;
        s.lanes.push_back(row);
        s.tracks.push_back(t);
    }
    s.markers.push_back({Uuid::random(), "Marker", 0.001, std::nullopt});
    return s;
}

Session version3() {
    Session s = version2();
    s.tempo = 100;
    Track& t = s.tracks[0];
    t.fadeIn = 0.0005, t.fadeOutCurve = FadeCurve::cosine;
    t.volumeEnvelope = {{0.0, -6.0}, {0.001, 0.0}};
    EffectSlot slot(EffectPreset::compressor);
    slot.params["threshold"] = -20;
    t.rack.push_back(slot);
    EssentialSound es(SoundType::dialogue);
    es.slotIDs["dynamics"] = slot.id;
    t.essentialSound = es;
    s.markers.push_back({Uuid::random(), "Range", 0.0, 0.001});
    return s;
}

Session version4() {
    Session s = version2();
    Track extra = Track::make("Extra", test::noise(32, 0.2f, 9));
    extra.laneID = s.lanes[0].id, extra.start = 0.01;
    extra.headHandle = test::noise(8, 0.1f, 10);
    extra.tailHandle = test::noise(4, 0.1f, 11);
    extra.handleEnvelopes = HandleEnvelopes{{{0.0, -3.0}}, {{0.0, 0.0}}};
    extra.punchTake = true;
    s.tracks.push_back(extra);
    s.lanes.push_back(Lane{Uuid::random(), "Empty", 2, 0, 0, false, true});
    return s;
}

TEST(ProjectCorpus, Regenerate) {
    if (!std::getenv("TESSORAL_REGENERATE_CORPUS")) GTEST_SKIP() << "set TESSORAL_REGENERATE_CORPUS=1 to rewrite";
    const auto dir = corpus();
    std::filesystem::create_directories(dir);
    auto put = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) { test::writeFile(dir / name, bytes); };
    const auto v2 = ProjectIO::encode(version2());
    const auto v3 = ProjectIO::encode(version3());
    const auto v4 = ProjectIO::encode(version4());
    put("valid-v2.tessoral", v2);
    put("valid-v3.tessoral", v3);
    put("valid-v4.tessoral", v4);
    put("truncated-v4.tessoral", std::vector<std::uint8_t>(v4.begin(), v4.begin() + static_cast<long>(v4.size() / 2)));
    auto changed = [](std::vector<std::uint8_t> bytes, std::size_t fromEnd, std::uint8_t value) {
        bytes[bytes.size() - fromEnd] = value;
        return bytes;
    };
    put("bad-table-offset.tessoral", changed(v3, 1, v3.back() ^ 0x40));  // offset table position
    put("bad-ref-size.tessoral", changed(v2, 26, 8));  // reference size larger than the references
    {
        // A 64-frame block is 256 bytes: a data object with a two-byte length; its first sample becomes NaN.
        auto bad = v2;
        const std::uint8_t head[] = {0x4F, 0x11, 0x01, 0x00};
        auto at = std::search(bad.begin(), bad.end(), std::begin(head), std::end(head));
        if (at != bad.end()) at[4 + 3] = 0x7F, at[4 + 2] = 0xC0;
        put("nan-sample.tessoral", bad);
    }
    put("cycle.tessoral", test::RawBplist{{{0xA1, 0x00}}}.bytes());
    {
        test::RawBplist deep;
        for (int i = 0; i < 200; ++i) deep.objects.push_back({0xA1, static_cast<std::uint8_t>(i + 1)});
        deep.objects.push_back({0x08});
        put("deep.tessoral", deep.bytes());
    }
    {
        test::RawBplist dag;
        for (int i = 0; i < 40; ++i)
            dag.objects.push_back({0xA2, static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(i + 1)});
        dag.objects.push_back({0x09});
        put("amplification.tessoral", dag.bytes());
    }
    auto root = [](PlistValue version, PlistValue tracks) {
        PlistValue r;
        r.add("version", std::move(version));
        r.add("sampleRate", 48000);
        r.add("masterDB", 0.0);
        r.add("tracks", std::move(tracks));
        return r;
    };
    put("wrong-types.tessoral", Bplist::encode(root("2", PlistValue{})));
    PlistValue clip;  // sample blocks of 10 bytes: no whole number of floats
    clip.add("id", Uuid::random());
    clip.add("name", "x");
    for (const char* k : {"left", "right"}) clip.add(k, PlistValue::Data(10, 0));
    for (const char* k : {"start", "gainDB", "pan"}) clip.add(k, 0.0);
    for (const char* k : {"muted", "solo"}) clip.add(k, false);
    clip.add("color", 0);
    PlistValue oddBlock = root(4, PlistValue::Array{clip});
    oddBlock.add("lanes", PlistValue::Array{});
    put("odd-block.tessoral", Bplist::encode(oddBlock));
}

// The committed valid seeds stay loadable, and every seed is either loaded or refused.
TEST(ProjectCorpus, SeedsLoadOrAreRefused) {
    std::size_t valid = 0, refused = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus())) {
        const auto bytes = test::readFile(entry.path());
        const bool shouldLoad = entry.path().filename().string().starts_with("valid-");
        try {
            ProjectIO::loadFromBytes(bytes);
            EXPECT_TRUE(shouldLoad) << entry.path();
            ++valid;
        } catch (const StudioError&) {
            EXPECT_FALSE(shouldLoad) << entry.path();
            ++refused;
        }
    }
    EXPECT_EQ(valid, 3u);
    EXPECT_GE(refused, 8u);
}

}  // namespace
