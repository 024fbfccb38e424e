// The loader on files written by Python's plistlib: every refusal with its message,
// the defaults of absent keys, and the repairs the loader makes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <tuple>

#include "BplistTestSupport.h"
#include "model/ProjectIO.h"
#include "model/StudioError.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

constexpr const char* kBuilder = R"(
import plistlib, sys, uuid, struct, os
def U(): return str(uuid.uuid4()).upper()
def samples(n, v=0.25): return struct.pack('<%df' % n, *([v] * n))
def clip(**kw):
    c = {'id': U(), 'name': 'c', 'left': samples(480), 'right': samples(480), 'start': 0.0,
         'gainDB': 0.0, 'pan': 0.0, 'muted': False, 'solo': False, 'color': 0}
    c.update(kw); return c
def lane(**kw):
    l = {'id': U(), 'name': 'r', 'color': 0, 'gainDB': 0.0, 'pan': 0.0, 'muted': False, 'solo': False}
    l.update(kw); return l
def marker(**kw):
    m = {'id': U(), 'name': 'm', 'start': 1.0}
    m.update(kw); return m
def slot(**kw):
    s = {'id': U(), 'preset': 'echo', 'enabled': True, 'wet': 1.0, 'params': {}}
    s.update(kw); return s
def amount(on=False, a=5.0): return {'enabled': on, 'amount': a}
def essential(**kw):
    e = {'type': 'dialogue', 'matchLoudness': True, 'targetLUFS': -16.0, 'reduceNoise': amount(),
         'reduceRumble': amount(), 'removeHum': amount(), 'deess': amount(), 'dynamics': amount(),
         'eq': amount(), 'eqPreset': 'podcast', 'enhance': amount(), 'reverb': amount(),
         'panorama': amount(False, 0.0), 'duckUnderDialogue': False, 'slotIDs': {}}
    e.update(kw); return e
def point(t, v): return {'time': t, 'value': v}
nan = float('nan'); inf = float('inf')
cases = {}
for line in open(sys.argv[1], encoding='utf-8'):
    name, _, code = line.rstrip('\n').partition('\t')
    p = {'version': 2, 'sampleRate': 48000, 'masterDB': 0.0, 'tracks': [clip(), clip()],
         'markers': [], 'tempo': 120.0, 'beatsPerBar': 4, 'autoCrossfade': True}
    t = p['tracks']
    exec(code)
    with open(os.path.join(sys.argv[2], name + '.tessoral'), 'wb') as f:
        plistlib.dump(p, f, fmt=plistlib.FMT_BINARY, sort_keys=False)
)";

const std::string kProject = "Неподдерживаемый или повреждённый проект.";
const std::string kLanes = "Повреждены дорожки проекта.";
const std::string kMarkers = "Повреждены маркеры проекта.";
const std::string kTempo = "Повреждены темп или размер проекта.";
const std::string kClip = "Повреждённая дорожка в проекте.";
const std::string kSamples = "Некорректные сэмплы в проекте.";
const std::string kRack = "Повреждена цепочка эффектов в проекте.";
const std::string kEssential = "Повреждены настройки основного звука в проекте.";
const std::string kAutomation = "Повреждена автоматизация дорожки в проекте.";
const std::string kLength = "Длина проекта ограничена 8 минутами.";
const std::string kMemory = "Проект превышает лимит памяти.";
const std::string kFileSize = "Проект превышает лимит памяти 384 МБ.";

struct Case {
    std::string name;
    std::string code;         // Python statements on p (root) and t (clips)
    std::string refusal;      // expected message; empty when the file loads
    std::function<void(const Session&)> check = {};
};

std::vector<Case> cases() {
    return {
        {"base", "", ""},
        {"version0", "p['version'] = 0", kProject},
        {"version5", "p['version'] = 5", kProject},
        {"version1", "p['version'] = 1", "", [](const Session& s) { EXPECT_EQ(s.lanes.size(), 2u); }},
        {"rate", "p['sampleRate'] = 44100", kProject},
        {"masterLow", "p['masterDB'] = -60.0", "", [](const Session& s) { EXPECT_EQ(s.masterDB, -60.0); }},
        {"masterHigh", "p['masterDB'] = 12", "", [](const Session& s) { EXPECT_EQ(s.masterDB, 12.0); }},
        {"master12_5", "p['masterDB'] = 12.5", kProject},
        {"masterNaN", "p['masterDB'] = nan", kProject},
        {"noVersion", "del p['version']", kProject},
        {"noTracks", "del p['tracks']", kProject},
        {"tracksNotArray", "p['tracks'] = {}", kProject},
        {"clips257", "p['tracks'] = [clip() for _ in range(257)]", kProject},
        {"clips256", "p['version'] = 4; p['lanes'] = [lane()]; p['tracks'] = [clip(laneID=p['lanes'][0]['id']) for _ in range(256)]",
         "", [](const Session& s) { EXPECT_EQ(s.tracks.size(), 256u); }},
        {"sameClipID", "t[1]['id'] = t[0]['id']", kProject},
        {"lanes33", "p['version'] = 4; p['lanes'] = [lane() for _ in range(33)]", kLanes},
        {"clips33", "p['tracks'] = [clip() for _ in range(33)]", kLanes},
        {"lanePan", "p['lanes'] = [lane(pan=1.5)]", kLanes},
        {"laneGainNaN", "p['lanes'] = [lane(gainDB=nan)]", kLanes},
        {"sameLaneID", "l = lane(); p['lanes'] = [l, dict(l)]", kLanes},
        {"laneMissingKey", "l = lane(); del l['solo']; p['lanes'] = [l]", kLanes},
        {"markerPoint", "p['markers'] = [marker(start=5.0, end=5.0)]", "",
         [](const Session& s) { ASSERT_EQ(s.markers.size(), 1u); EXPECT_EQ(s.markers[0].end, 5.0); }},
        {"markerEnd", "p['markers'] = [marker(start=5.0, end=480.5)]", kMarkers},
        {"markerStart", "p['markers'] = [marker(start=-1.0)]", kMarkers},
        {"markerBeforeStart", "p['markers'] = [marker(start=5.0, end=4.0)]", kMarkers},
        {"markerSameID", "m = marker(); p['markers'] = [m, dict(m)]", kMarkers},
        {"markers1001", "p['markers'] = [marker() for _ in range(1001)]", kMarkers},
        {"noOptionalRootKeys", "del p['tempo'], p['beatsPerBar'], p['autoCrossfade'], p['markers']", "",
         [](const Session& s) {
             EXPECT_EQ(std::tuple(s.tempo, s.beatsPerBar, s.autoCrossfade, s.markers.size()),
                       std::tuple(120.0, 4, false, 0u));
         }},
        {"tempo19_9", "p['tempo'] = 19.9", kTempo},
        {"beats17", "p['beatsPerBar'] = 17", kTempo},
        {"beats0", "p['beatsPerBar'] = 0", kTempo},
        {"tempoText", "p['tempo'] = 'fast'", kTempo},
        {"left10", "t[0]['left'] = b'\\0' * 10", kClip},
        {"leftRight", "t[0]['right'] = samples(479)", kClip},
        {"emptyLeft", "t[0]['left'] = t[0]['right'] = b''", kClip},
        {"nanRight", "t[0]['right'] = samples(479) + struct.pack('<f', nan)", kSamples},
        {"infLeft", "t[1]['left'] = struct.pack('<f', -inf) + samples(479)", kSamples},
        {"gain24", "t[0]['gainDB'] = 24.0", "", [](const Session& s) {  // above what a row holds: kept on the clip
             EXPECT_EQ(std::pair(s.tracks[0].gainDB, s.lanes[0].gainDB), std::pair(24.0, 0.0));
         }},
        {"gain24_1", "t[0]['gainDB'] = 24.1", kClip},
        {"startNegative", "t[0]['start'] = -0.5", kClip},
        {"pan1_1", "t[0]['pan'] = 1.1", kClip},
        {"mutedNumber", "t[0]['muted'] = 1", kClip},
        {"leftText", "t[0]['left'] = 'abcd'", kClip},
        {"tooLong", "t[0]['left'] = t[0]['right'] = samples(480000); t[0]['start'] = 471.0", kLength},
        {"fadesClamped",
         "t[0]['left'] = t[0]['right'] = samples(192000); t[0]['fadeIn'] = 3.0; t[0]['fadeOut'] = 3.0; "
         "t[0]['fadeOutCurve'] = 'bogus'; t[0]['fadeInCurve'] = 'cosine'",
         "", [](const Session& s) {
             const Track& t = s.tracks[0];
             EXPECT_EQ(std::tuple(t.fadeIn, t.fadeOut, t.fadeInCurve, t.fadeOutCurve),
                       std::tuple(3.0, 1.0, FadeCurve::cosine, FadeCurve::linear));
         }},
        {"fadeInNegative", "t[0]['fadeIn'] = -0.1", kAutomation},
        {"fadeIn500", "t[0]['fadeIn'] = 500.0", kAutomation},
        {"volumeEnvelope12_5", "t[0]['volumeEnvelope'] = [point(0.0, 12.5)]", kAutomation},
        {"panEnvelopeBackwards", "t[0]['panEnvelope'] = [point(1.0, 0.0), point(0.5, 0.0)]", kAutomation},
        {"envelope2001", "t[0]['volumeEnvelope'] = [point(0.0, 0.0)] * 2001", kAutomation},
        {"envelopes", "t[0]['volumeEnvelope'] = [point(0.0, -6.0)]; t[0]['panEnvelope'] = [point(0.0, 0.4)]", "",
         [](const Session& s) {
             EXPECT_EQ(s.tracks[0].volumeEnvelope, (Envelope{{0.0, -6.0}}));
             EXPECT_EQ(s.tracks[0].panEnvelope, (Envelope{{0.0, 0.4}}));
         }},
        {"slots9", "t[0]['rack'] = [slot() for _ in range(9)]", kRack},
        {"wet1_2", "t[0]['rack'] = [slot(wet=1.2)]", kRack},
        {"sameSlotID", "s = slot(); t[0]['rack'] = [s, dict(s)]", kRack},
        {"slotInTwoClips", "s = slot(); t[0]['rack'] = [s]; t[1]['rack'] = [dict(s)]", "",
         [](const Session& s) { EXPECT_EQ(s.tracks[0].rack[0].id, s.tracks[1].rack[0].id); }},
        {"paramNaN", "t[0]['rack'] = [slot(params={'mix': nan})]", kRack},
        {"params65", "t[0]['rack'] = [slot(params={'p%d' % i: 1.0 for i in range(65)})]", kRack},
        {"unknownPreset", "t[0]['rack'] = [slot(preset='warp')]", kRack},
        {"essentialLoud", "t[0]['essentialSound'] = essential(targetLUFS=-4.0)", kEssential},
        {"essentialHum55", "t[0]['essentialSound'] = essential(humFrequency=55)", kEssential},
        {"essentialRole", "t[0]['essentialSound'] = essential(slotIDs={'gain': U()})", kEssential},
        {"essentialMissing", "e = essential(); del e['eq']; t[0]['essentialSound'] = e", kEssential},
        {"essentialGood", "t[0]['essentialSound'] = essential(humFrequency=50)", "",
         [](const Session& s) { EXPECT_EQ(s.tracks[0].essentialSound->humFrequency, 50); }},
        {"headLeftOnly", "t[0]['headLeft'] = samples(10)", kClip},
        {"headNaN", "t[0]['headLeft'] = samples(10); t[0]['headRight'] = samples(9) + struct.pack('<f', nan)", kSamples},
        {"handleEnvelopesWithoutHandles",
         "t[0]['handleVolume'] = [point(0.0, 99.0)]; t[0]['handlePan'] = [point(-1.0, 5.0)]", "",
         [](const Session& s) { EXPECT_FALSE(s.tracks[0].handleEnvelopes); }},
        {"handleEnvelopeOutOfRange",
         "t[0]['headLeft'] = t[0]['headRight'] = samples(10); "
         "t[0]['handleVolume'] = [point(0.0, 99.0)]; t[0]['handlePan'] = []",
         kAutomation},
        {"handleEnvelopeAlone", "t[0]['tailLeft'] = t[0]['tailRight'] = samples(10); t[0]['handleVolume'] = []", "",
         [](const Session& s) { EXPECT_TRUE(s.tracks[0].tailHandle && !s.tracks[0].handleEnvelopes); }},
        {"handles",
         "t[0]['headLeft'] = t[0]['headRight'] = samples(10, 0.5); t[0]['handleVolume'] = [point(600.0, 1.0)]; "
         "t[0]['handlePan'] = [point(0.0, -1.0)]; t[0]['punchTake'] = True",
         "", [](const Session& s) {
             ASSERT_TRUE(s.tracks[0].headHandle);
             EXPECT_EQ(s.tracks[0].headHandle->frames(), 10);
             EXPECT_EQ(s.tracks[0].handleEnvelopes->volume, (Envelope{{600.0, 1.0}}));
             EXPECT_TRUE(s.tracks[0].punchTake);
         }},
        {"emptyLanes", "p['version'] = 4; p['lanes'] = []; t[0]['laneID'] = U()", "",
         [](const Session& s) { ASSERT_EQ(s.lanes.size(), 2u); EXPECT_EQ(s.tracks[0].laneID, s.lanes[0].id); }},
        {"laneIDWithoutLanes", "l = U(); t[0]['laneID'] = l; t[1]['laneID'] = l", "",
         [](const Session& s) { EXPECT_EQ(s.lanes.size(), 2u); }},
        {"laneless",
         "t[0].update(gainDB=-6.0, pan=0.3, muted=True, solo=True, name='Voice', color=5)", "",
         [](const Session& s) {
             ASSERT_EQ(s.lanes.size(), 2u);
             EXPECT_EQ(s.lanes[0], (Lane{s.lanes[0].id, "Voice", 5, -6.0, 0.3, true, true}));
             const Track& t = s.tracks[0];
             EXPECT_EQ(std::tuple(t.gainDB, t.pan, t.muted, t.audio.left[0]), std::tuple(0.0, 0.0, false, 0.25f));
             EXPECT_EQ(std::tuple(t.peaks.size(), t.leftEnvelope.size()), std::tuple(480u, 480u));
         }},
        {"unknownKeys", "p['extra'] = [1, {'a': b'x'}]; t[0]['future'] = {'x': 1}", ""},
        // 256 clips that share one sample block (plistlib stores equal bytes once):
        // 256 × 8 × 196,609 bytes of audio are just over 384 MiB.
        {"memory",
         "b = samples(196609); p['version'] = 4; p['lanes'] = [lane()]; "
         "p['tracks'] = [clip(left=b, right=b, laneID=p['lanes'][0]['id']) for _ in range(256)]",
         kMemory},
        // The same without rows: 256 rows after normalisation are refused first.
        {"memoryLaneless", "b = samples(196609); p['tracks'] = [clip(left=b, right=b) for _ in range(256)]", kLanes},
    };
}

TEST(ProjectIOLoad, FilesWrittenByPlistlib) {
    test::TempFolder dir;
    const auto list = dir / "cases.tsv";
    {
        std::ofstream out(list);
        for (const auto& c : cases()) out << c.name << '\t' << c.code << '\n';
    }
    bool ok = false;
    const std::string err = test::python(kBuilder, {list.string(), dir.path().string()}, &ok);
    ASSERT_TRUE(ok) << err;
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.name);
        const auto file = dir / (c.name + ".tessoral");
        try {
            const Session s = ProjectIO::load(file);
            EXPECT_EQ(c.refusal, "") << "loaded";
            if (c.check) c.check(s);
        } catch (const StudioError& e) {
            EXPECT_EQ(e.message(), c.refusal);
        }
    }
}

TEST(ProjectIOLoad, FileSizeIsCheckedBeforeReading) {
    test::TempFolder dir;
    const auto file = dir / "big.tessoral";
    test::writeFile(file, {});
    std::filesystem::resize_file(file, ProjectIO::kMaxFileBytes);  // sparse: no 400 MB written
    // Passes the size check, then is no property list.
    EXPECT_EQ(test::errorMessage([&] { ProjectIO::load(file); }), kProject);
    std::filesystem::resize_file(file, ProjectIO::kMaxFileBytes + 1);
    EXPECT_EQ(test::errorMessage([&] { ProjectIO::load(file); }), kFileSize);
}

TEST(ProjectIOLoad, FileSystemErrorsArePlatformErrors) {
    test::TempFolder dir;
    EXPECT_THROW(ProjectIO::load(dir / "missing.tessoral"), PlatformError);
    EXPECT_THROW(ProjectIO::load(dir.path()), PlatformError);
}

TEST(ProjectIOLoad, AFifoWithoutAWriterDoesNotHang) {
    test::TempFolder dir;
    const auto fifo = dir / "pipe.tessoral";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto loading = std::async(std::launch::async, [&] { return test::errorMessage([&] { ProjectIO::load(fifo); }); });
    if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Unblock the loader so the test can end, then fail.
        const int writer = ::open(fifo.c_str(), O_WRONLY);
        ::close(writer);
        FAIL() << "loading a FIFO waited for a writer";
    }
    EXPECT_EQ(loading.get(), kProject);
}

TEST(ProjectIOLoad, DamagedStructureIsRefusedWithAMessage) {
    // The root {version: 2, sampleRate: 48000, masterDB: 0, tracks: […]} made by hand, with a
    // clip list that refers past the objects, then one that holds itself.
    test::RawBplist raw;
    raw.objects = {
        {0xD4, 1, 2, 3, 4, 5, 6, 7, 8},
        {0x57, 'v', 'e', 'r', 's', 'i', 'o', 'n'},
        {0x5A, 's', 'a', 'm', 'p', 'l', 'e', 'R', 'a', 't', 'e'},
        {0x58, 'm', 'a', 's', 't', 'e', 'r', 'D', 'B'},
        {0x56, 't', 'r', 'a', 'c', 'k', 's'},
        {0x10, 2},
        {0x11, 0xBB, 0x80},
        {0x23, 0, 0, 0, 0, 0, 0, 0, 0},
        {0xA1, 0x30},
    };
    EXPECT_EQ(test::errorMessage([&] { ProjectIO::loadFromBytes(raw.bytes()); }), kClip);
    raw.objects[8] = {0xA1, 0x08};  // the clip list holds itself: not a clip
    EXPECT_EQ(test::errorMessage([&] { ProjectIO::loadFromBytes(raw.bytes()); }), kClip);
    raw.objects[8] = {0xA0};
    EXPECT_TRUE(ProjectIO::loadFromBytes(raw.bytes()).tracks.empty());
}

TEST(ProjectIOLoad, TruncatedFilesGiveAMessage) {
    Session s;
    Track t = Track::make("a", AudioData({0.5f, -0.5f}, {0.25f, 0.125f}));
    t.rack.push_back(EffectSlot(EffectPreset::echo));
    t.volumeEnvelope = {{0.0, 1.0}};
    s.tracks.push_back(t);
    const auto good = ProjectIO::encode(s);
    ASSERT_NO_THROW(ProjectIO::loadFromBytes(good));
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_THROW(ProjectIO::loadFromBytes(std::span(good.data(), n)), StudioError) << n;
    for (std::size_t i = 0; i < good.size(); ++i) {  // a changed byte loads or is refused, nothing else
        auto bad = good;
        bad[i] ^= 0x5A;
        test::errorMessage([&] { ProjectIO::loadFromBytes(bad); });
    }
}

}  // namespace
