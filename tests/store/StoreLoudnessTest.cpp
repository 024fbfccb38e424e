// Loudness matching: which measurements still count, the gain path through the row gain, and the
// processing path checked against libebur128.

#include <cmath>
#include <limits>
#include <map>

#include "ClipTestSupport.h"
#include "processing/LoudnessMatch.h"
#include "support/TestTools.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

constexpr double kSilentPeak = -std::numeric_limits<double>::infinity();

class StoreLoudness : public ClipStoreTest {
protected:
    Uuid row;

    void SetUp() override { row = makeRows(1).front(); }

    Uuid place(AudioData audio, std::vector<EffectSlot> rack = {}, bool bypassed = false) {
        return addAudioClip(row, std::move(audio), 0.0, "Клип", [&](Track& t) {
            t.rack = std::move(rack);
            t.rackBypassed = bypassed;
        });
    }

    // The sheet's entry for the clip as it is now.
    LoudnessMatch::Entry entry(const Uuid& id, LoudnessMeasurement m) {
        const Track& t = track(id);
        return LoudnessMatch::Entry{t.id, t.revision, t.rack, t.rackBypassed, m};
    }
    // Measured by libebur128 (the sheet renders through the rack; these racks keep the loudness).
    LoudnessMatch::Entry measured(const Uuid& id) {
        const auto ebu = ebur128Measure(track(id).audio);
        return entry(id, LoudnessMeasurement(ebu.lufs, ebu.truePeakDB, -6.0));
    }
};

}  // namespace

TEST_F(StoreLoudness, TargetNoneDoesNothing) {
    const Uuid id = place(noise(48000, 0.3f));
    store->setShowMatchLoudness(true);
    const std::string status = store->status();
    store->matchLoudness({{id, entry(id, LoudnessMeasurement(-20.0, -3.0, -3.0))}}, LoudnessTarget::none, false);
    EXPECT_EQ(store->status(), status);
    EXPECT_FALSE(store->error());
    EXPECT_TRUE(store->showMatchLoudness());
    EXPECT_EQ(steps(), 0u);
}

TEST_F(StoreLoudness, MeasurementsThatCannotReachTheTargetDoNotQualify) {
    const Uuid silent = place(constant(48000, 0.0f));
    const Uuid tiny = place(noise(9600, 0.3f));
    store->setShowMatchLoudness(true);
    store->matchLoudness({{silent, entry(silent, LoudnessMeasurement(std::nullopt, kSilentPeak, kSilentPeak))}},
                         LoudnessTarget::peak, false);
    EXPECT_EQ(store->error(), L("Нет дорожек со звуком для сопоставления громкости."));
    EXPECT_TRUE(store->showMatchLoudness()) << "the sheet stays open and shows the error itself";
    EXPECT_TRUE(store->sheetShowsError());

    store->setError(std::nullopt);
    // The sheet's measurement of a 0.2 s clip carries an ungated loudness: still no integrated one.
    store->matchLoudness({{tiny, entry(tiny, LoudnessMeasurement(-20.0, -10.0, -10.0))}},
                         LoudnessTarget::streaming, false);
    EXPECT_EQ(store->error(), L("Нет дорожек со звуком для сопоставления громкости."));
    EXPECT_EQ(steps(), 0u);
}

TEST_F(StoreLoudness, TheGainPathSubtractsTheRowGainAndSkipsStaleEntries) {
    const Uuid a = place(noise(48000, 0.3f, 1));
    const Uuid b = place(noise(48000, 0.3f, 2));
    const Uuid edited = place(noise(48000, 0.3f, 3), {EffectSlot(EffectPreset::echo)});
    std::map<Uuid, LoudnessMatch::Entry> entries{
        {a, entry(a, LoudnessMeasurement(-20.0, -3.0, -3.0))},
        {b, entry(b, LoudnessMeasurement(-90.0, -50.0, -50.0))},
        {edited, entry(edited, LoudnessMeasurement(-20.0, -3.0, -3.0))},
    };
    store->setLaneGain(row, 6.0);
    store->setRackSlotWet(edited, track(edited).rack.front().id, 0.5);  // the rack changed after measuring
    const double editedGain = track(edited).gainDB;
    store->setShowMatchLoudness(true);
    store->matchLoudness(entries, LoudnessTarget::podcast, false);
    EXPECT_FALSE(store->showMatchLoudness());
    EXPECT_DOUBLE_EQ(track(a).gainDB, -16.0 + 20.0 - 6.0);
    EXPECT_DOUBLE_EQ(track(b).gainDB, 12.0) << "clamped";
    EXPECT_DOUBLE_EQ(track(edited).gainDB, editedGain);
    EXPECT_EQ(lastStep(), L("Сопоставление громкости"));
    EXPECT_EQ(store->status(), "Громкость сопоставлена (Подкаст −16 LUFS): дорожек 2");
}

TEST_F(StoreLoudness, ProcessingFlattensAnActiveRackAndKeepsABypassedOne) {
    const Uuid active = place(noise(3 * 48000, 0.3f, 4), {EffectSlot(EffectPreset::invert)});
    const Uuid bypassed = place(noise(3 * 48000, 0.1f, 5), {EffectSlot(EffectPreset::echo)}, true);
    Session s = store->session();
    s.track(active)->essentialSound = EssentialSound(SoundType::music);
    s.track(active)->gainDB = 3.0;
    store->setSession(s);
    const Uuid oldRevision = track(active).revision;
    store->matchLoudness({{active, measured(active)}, {bypassed, measured(bypassed)}}, LoudnessTarget::podcast, true);
    EXPECT_TRUE(store->busy());
    EXPECT_EQ(store->status(), L("Сопоставление громкости…"));
    fx.tasks.runAll();
    ASSERT_FALSE(store->busy());
    ASSERT_FALSE(store->error());
    EXPECT_EQ(store->status(), "Громкость обработана (Подкаст −16 LUFS): дорожек 2");
    EXPECT_EQ(steps(), 1u);

    EXPECT_TRUE(track(active).rack.empty());
    EXPECT_FALSE(track(active).essentialSound);
    EXPECT_NE(track(active).revision, oldRevision);
    EXPECT_DOUBLE_EQ(track(active).gainDB, 0.0);
    EXPECT_EQ(track(bypassed).rack.size(), 1u);
    EXPECT_TRUE(track(bypassed).rackBypassed);
    for (const Uuid& id : {active, bypassed}) {
        const auto ebu = ebur128Measure(track(id).audio);
        ASSERT_TRUE(ebu.lufs);
        EXPECT_NEAR(*ebu.lufs, -16.0, 0.5);
    }
    // The inverted rack is in the audio now.
    EXPECT_LT(track(active).audio.left.span()[0] * noise(3 * 48000, 0.3f, 4).left.span()[0], 0.0f);
}
