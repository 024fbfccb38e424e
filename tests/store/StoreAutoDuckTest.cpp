// Auto-duck: which clips are voices, what the envelope looks like, and what undo takes back.

#include <cmath>
#include <optional>
#include <vector>

#include "ClipTestSupport.h"
#include "model/AutoDuck.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

AutoDuckSettings duckSettings(double thresholdDB = -40.0) {
    AutoDuckSettings s;
    s.duckDB = -15.0;
    s.thresholdDB = thresholdDB;
    s.fadeDownMS = 250.0;
    s.fadeUpMS = 800.0;
    s.holdMS = 600.0;
    return s;
}

class StoreAutoDuck : public TwoRowStoreTest {
protected:
    Uuid music;

    // Music: 10 s on row A at 0 s.
    void SetUp() override {
        TwoRowStoreTest::SetUp();
        music = addClip(rowA, 0.0, 10 * 48000, "Музыка");
        Session s = store->session();
        s.track(music)->volumeEnvelope = {{0.0, -3.0}, {9.0, -3.0}};
        store->setSession(s);
    }

    // A voice: one second of noise at `amplitude` starting at `start` on the row.
    Uuid voice(const Uuid& row, double start, float amplitude = 0.5f, double gainDB = 0.0) {
        return addAudioClip(row, noise(48000, amplitude, 11), start, "Голос", [gainDB](Track& t) { t.gainDB = gainDB; });
    }

    void duck(const std::optional<std::vector<Uuid>>& voices, const AutoDuckSettings& settings = duckSettings()) {
        store->autoDuck(music, voices, settings);
        fx.tasks.runAll();
        ASSERT_FALSE(store->busy());
    }

    const Envelope& envelope() { return track(music).volumeEnvelope; }
    static const Envelope& original() {
        static const Envelope e{{0.0, -3.0}, {9.0, -3.0}};
        return e;
    }
};

}  // namespace

TEST_F(StoreAutoDuck, WithoutAListOnlyClipsOfOtherRowsAreVoices) {
    voice(rowA, 6.0);  // same row as the music: not a voice
    voice(rowB, 2.0);
    duck(std::nullopt);
    ASSERT_EQ(envelope().size(), 4u);
    // 0 dB 250 ms before the speech, the depth through it, 0 dB 800 ms after it.
    EXPECT_NEAR(envelope()[0].time, 1.75, 0.051);
    EXPECT_EQ(envelope()[0].value, 0.0);
    EXPECT_NEAR(envelope()[1].time, 2.0, 0.051);
    EXPECT_EQ(envelope()[1].value, -15.0);
    EXPECT_NEAR(envelope()[2].time, 3.0, 0.051);
    EXPECT_EQ(envelope()[3].value, 0.0);
    EXPECT_NEAR(envelope()[3].time, 3.8, 0.051);
    EXPECT_TRUE(store->showEnvelopes());
    EXPECT_EQ(lastStep(), L("Автоприглушение"));
    EXPECT_EQ(store->status(), "Автоприглушение: 4 точки громкости");

    // One undo brings the old envelope back.
    store->undo();
    EXPECT_EQ(envelope(), original());
    // Two stretches of speech: eight points, the count's own form of the noun.
    voice(rowB, 6.0);
    duck(std::nullopt);
    EXPECT_EQ(envelope().size(), 8u);
    EXPECT_EQ(store->status(), "Автоприглушение: 8 точек громкости");
}

TEST_F(StoreAutoDuck, ClipsOnTheTargetsRowNeverVoiceWithoutAList) {
    voice(rowA, 2.0);
    store->autoDuck(music, std::nullopt, duckSettings());
    EXPECT_EQ(store->error(), L("Нет дорожек с речью для автоприглушения."));
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(fx.tasks.pending(), 0u);
}

TEST_F(StoreAutoDuck, AMutedClipIsAVoiceOnlyWhenListedAndAMutedRowNever) {
    const Uuid muted = voice(rowB, 2.0);
    Session s = store->session();
    s.track(muted)->muted = true;
    store->setSession(s);
    store->autoDuck(music, std::nullopt, duckSettings());
    EXPECT_EQ(store->error(), L("Нет дорожек с речью для автоприглушения."));

    store->setError(std::nullopt);
    duck(std::vector<Uuid>{muted});
    EXPECT_EQ(envelope().size(), 4u);

    store->toggleLaneMute(rowB);
    store->setError(std::nullopt);
    store->autoDuck(music, std::vector<Uuid>{muted}, duckSettings());
    EXPECT_EQ(store->error(), L("Нет дорожек с речью для автоприглушения."));

    store->setError(std::nullopt);
    store->autoDuck(music, std::vector<Uuid>{music}, duckSettings());
    EXPECT_EQ(store->error(), L("Нет дорожек с речью для автоприглушения.")) << "the target is never its own voice";
}

TEST_F(StoreAutoDuck, NoSpeechNearTheClipLeavesItAloneWithAStatus) {
    const auto before = steps();
    voice(rowB, 2.0, 0.0f);  // silent
    duck(std::nullopt);
    EXPECT_EQ(store->status(), L("Речь под дорожкой не найдена"));
    EXPECT_EQ(envelope(), original());
    EXPECT_EQ(steps(), before);
    EXPECT_FALSE(store->showEnvelopes());
}

TEST_F(StoreAutoDuck, AVoicesGainCountsSoTheSameAudibleSpeechIsFound) {
    // The same speech heard at about −31 dBFS: quiet audio at 0 dB, or 12 dB louder audio at −12 dB.
    const float quiet = 0.05f;
    const float loud = quiet * static_cast<float>(std::pow(10.0, 12.0 / 20.0));
    for (double threshold : {-40.0, -28.0}) {
        SCOPED_TRACE(threshold);
        Session s = store->session();
        std::erase_if(s.tracks, [&](const Track& t) { return t.id != music; });
        s.track(music)->volumeEnvelope = original();
        store->setSession(s);
        voice(rowB, 2.0, quiet);
        duck(std::nullopt, duckSettings(threshold));
        const Envelope atZero = envelope();

        s = store->session();
        std::erase_if(s.tracks, [&](const Track& t) { return t.id != music; });
        s.track(music)->volumeEnvelope = original();
        store->setSession(s);
        voice(rowB, 2.0, loud, -12.0);
        duck(std::nullopt, duckSettings(threshold));
        EXPECT_EQ(envelope(), atZero);
        // Found at −40, not at −28: the threshold is not ignored either.
        EXPECT_EQ(envelope() != original(), threshold < -30.0);
    }
}
