// Essential sound: type and option changes with their undo steps, the clip gain toward the target
// (libebur128 sets the levels), hum detection, the slot limit and ducking under dialogue.

#include <cmath>
#include <numbers>
#include <vector>

#include "ClipTestSupport.h"
#include "model/EssentialSoundChain.h"
#include "support/TestTools.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// The audio scaled so that libebur128 measures it at `lufs`.
AudioData atLoudness(const AudioData& audio, double lufs) {
    const auto measured = ebur128Measure(audio).lufs;
    const auto gain = static_cast<float>(std::pow(10.0, (lufs - *measured) / 20.0));
    std::vector<float> l(audio.left.begin(), audio.left.end()), r(audio.right.begin(), audio.right.end());
    for (auto& v : l) v *= gain;
    for (auto& v : r) v *= gain;
    return AudioData(std::move(l), std::move(r));
}

AudioData hum60(std::int64_t frames) {
    std::vector<float> s(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * 60.0 * static_cast<double>(i) / 48000.0));
    return AudioData(s, s);
}

class StoreEssentialSound : public TwoRowStoreTest {
protected:
    Uuid place(const Uuid& row, AudioData audio, double start = 0.0, const std::string& name = "Клип") {
        const Uuid id = addAudioClip(row, std::move(audio), start, name);
        store->setSelectedID(id);
        return id;
    }

    void settle() {
        fx.settle();
        ASSERT_FALSE(store->busy());
    }

    void type(const Uuid& id, SoundType t) {
        store->setSelectedID(id);
        store->setEssentialType(t);
        settle();
    }

    const EssentialSound& settings(const Uuid& id) { return *track(id).essentialSound; }
};

}  // namespace

TEST_F(StoreEssentialSound, ResetWithoutSettingsRecordsNothingAndWithSettingsKeepsTheClipsOwnSlots) {
    const Uuid id = place(rowA, noise(48000, 0.3f));
    store->resetEssentialSound();
    EXPECT_EQ(steps(), 0u);

    Session s = store->session();
    s.track(id)->rack = {EffectSlot(EffectPreset::echo)};
    store->setSession(s);
    type(id, SoundType::dialogue);
    store->updateEssential("Подавление шума", [](EssentialSound& e) { e.reduceNoise.enabled = true; });
    settle();
    ASSERT_EQ(track(id).rack.size(), 2u);
    EXPECT_EQ(track(id).rack.front().preset, EffectPreset::autoDenoise);

    const auto before = steps();
    store->resetEssentialSound();
    EXPECT_EQ(fx.tasks.pending(), 0u) << "a reset needs no analysis";
    EXPECT_EQ(steps(), before + 1);
    EXPECT_EQ(lastStep(), L("Основной звук: сброс"));
    EXPECT_EQ(store->status(), L("Основной звук сброшен"));
    EXPECT_FALSE(track(id).essentialSound);
    ASSERT_EQ(track(id).rack.size(), 1u);
    EXPECT_EQ(track(id).rack.front().preset, EffectPreset::echo);
}

TEST_F(StoreEssentialSound, ChoosingTheSameTypeOnlyShowsTheTab) {
    const Uuid id = place(rowA, noise(48000, 0.3f));
    type(id, SoundType::music);
    const auto before = steps();
    store->setInspectorTab(0);
    store->setShowInspector(false);
    store->setEssentialType(SoundType::music);
    EXPECT_EQ(store->inspectorTab(), 3);
    EXPECT_TRUE(store->showInspector());
    EXPECT_EQ(steps(), before);
    EXPECT_EQ(fx.tasks.pending(), 0u);
}

TEST_F(StoreEssentialSound, TheTypeSetsTheClipGainTowardTheTarget) {
    const Uuid quiet = place(rowA, atLoudness(noise(96000, 0.3f, 5), -40.0));
    store->setEssentialType(SoundType::dialogue);
    EXPECT_TRUE(store->busy());
    EXPECT_EQ(store->status(), L("Основной звук: анализ дорожки…"));
    settle();
    EXPECT_DOUBLE_EQ(track(quiet).gainDB, 12.0) << "+24 dB clamped to +12";
    EXPECT_EQ(store->status(), "Основной звук: усиление +12.0 dB");
    EXPECT_EQ(lastStep(), "Основной звук: Диалог");
    EXPECT_EQ(settings(quiet).type, SoundType::dialogue);

    const Uuid loud = place(rowB, atLoudness(noise(96000, 0.3f, 6), -3.0));
    store->setEssentialType(SoundType::music);
    settle();
    EXPECT_NEAR(track(loud).gainDB, -13.0, 0.1);
    EXPECT_EQ(store->status(), L("Основной звук: усиление {0} dB", num::fixed(track(loud).gainDB, 1)));

    // Shorter than one 400 ms block: no loudness, the gain stays.
    const Uuid shortClip = place(rowB, noise(14400, 0.3f, 7), 5.0);
    store->setClipGain(shortClip, 2.5);
    store->setEssentialType(SoundType::effects);
    settle();
    EXPECT_DOUBLE_EQ(track(shortClip).gainDB, 2.5);
    EXPECT_EQ(store->status(), L("Основной звук обновлён"));
}

TEST_F(StoreEssentialSound, AnOptionOutsideTheChainCommitsAtOnceWithoutMeasuring) {
    const Uuid id = place(rowA, atLoudness(noise(96000, 0.3f, 5), -20.0));
    type(id, SoundType::dialogue);
    const double gain = track(id).gainDB;
    store->setClipGain(id, gain + 1.0);
    const auto before = steps();
    // Reverb belongs to effects and ambience: the dialogue chain stays the same.
    store->updateEssential("Реверберация", [](EssentialSound& e) { e.reverb.enabled = true; });
    EXPECT_EQ(fx.tasks.pending(), 0u);
    EXPECT_EQ(steps(), before + 1);
    EXPECT_EQ(lastStep(), "Основной звук: Реверберация");
    EXPECT_DOUBLE_EQ(track(id).gainDB, gain + 1.0);
    // An equal result records nothing.
    store->updateEssential("Реверберация", [](EssentialSound& e) { e.reverb.enabled = true; });
    EXPECT_EQ(steps(), before + 1);
    // The panel passes the clip's own id and settings, which the change replaces.
    store->commitEssential(track(id).id, track(id).essentialSound, "Основной звук: тот же", false);
    EXPECT_EQ(lastStep(), "Основной звук: тот же");
    EXPECT_EQ(store->status(), L("Основной звук обновлён"));
    // The measure action always measures.
    store->commitEssential(id, track(id).essentialSound, L("Основной звук: громкость"), true);
    settle();
    EXPECT_NEAR(track(id).gainDB, 4.0, 0.1);
    EXPECT_EQ(lastStep(), "Основной звук: громкость");
}

TEST_F(StoreEssentialSound, AutomaticHumOnADialogueClipStoresTheDetectedFrequency) {
    const Uuid id = place(rowA, hum60(96000));
    type(id, SoundType::dialogue);
    store->updateEssential("Удаление гула", [](EssentialSound& e) { e.removeHum.enabled = true; });
    EXPECT_TRUE(store->busy());
    settle();
    EXPECT_EQ(settings(id).humFrequency, 60);
    EXPECT_EQ(track(id).rack.front().preset, EffectPreset::dehum60);
}

TEST_F(StoreEssentialSound, AQuitDuringTheAnalysisKeepsTheChangeAndTheRestoreRedoesIt) {
    const Uuid id = place(rowA, atLoudness(noise(96000, 0.3f, 5), -40.0));
    store->setEssentialType(SoundType::dialogue);
    EXPECT_TRUE(store->writeRecoveryBeforeQuit());
    settle();  // the analysis ending after the copy is dropped
    EXPECT_EQ(lastStep(), "Основной звук: Диалог");
    EXPECT_DOUBLE_EQ(track(id).gainDB, 0.0);
    restart();
    fx.prompts.alertAnswers.push_back(0);
    ASSERT_TRUE(store->offerRecovery());
    settle();
    EXPECT_DOUBLE_EQ(track(id).gainDB, 12.0);
    EXPECT_TRUE(store->undoNames().empty());
}

TEST_F(StoreEssentialSound, AChainThatDoesNotFitTheRackFailsAndKeepsTheRack) {
    const Uuid id = place(rowA, noise(96000, 0.3f));
    Session s = store->session();
    for (int i = 0; i < 7; ++i) s.track(id)->rack.push_back(EffectSlot(EffectPreset::echo));
    store->setSession(s);
    type(id, SoundType::dialogue);
    const auto rack = track(id).rack;
    const auto before = steps();
    store->updateEssential("Обработка", [](EssentialSound& e) {
        e.reduceNoise.enabled = true;
        e.deess.enabled = true;
        e.dynamics.enabled = true;
    });
    settle();
    EXPECT_EQ(store->error(), "В цепочке эффектов не хватает слотов: удалите лишние эффекты клипа.");
    EXPECT_EQ(track(id).rack, rack);
    EXPECT_EQ(steps(), before);
}

TEST_F(StoreEssentialSound, PanoramaSetsTheEffectsClipsPanAndSwitchingItOffCentresIt) {
    const Uuid id = place(rowA, noise(96000, 0.3f));
    type(id, SoundType::effects);
    store->updateEssential("Панорама", [](EssentialSound& e) {
        e.panorama.enabled = true;
        e.panorama.amount = 5.0;
    });
    settle();
    EXPECT_DOUBLE_EQ(track(id).pan, 0.5);
    store->updateEssential("Панорама", [](EssentialSound& e) { e.panorama.enabled = false; });
    settle();
    EXPECT_DOUBLE_EQ(track(id).pan, 0.0);
}

class StoreEssentialDucking : public StoreEssentialSound {
protected:
    Uuid dialogue, music;

    // Speech from 1 s to 2 s on row A (typed as dialogue); 5 s of music on row B at 0 s.
    void SetUp() override {
        StoreEssentialSound::SetUp();
        dialogue = place(rowA, noise(48000, 0.5f, 9), 1.0, "Речь");
        music = place(rowB, constant(5 * 48000, 0.1f), 0.0, "Музыка");
        Session s = store->session();
        s.track(music)->volumeEnvelope = {{0.0, -2.0}};
        store->setSession(s);
        type(music, SoundType::music);
    }

    void duckingOn() {
        store->setSelectedID(music);
        store->updateEssential("Приглушение", [](EssentialSound& e) { e.duckUnderDialogue = true; });
    }
};

TEST_F(StoreEssentialDucking, DuckingRightAfterTheChangeJoinsItsUndoStep) {
    type(dialogue, SoundType::dialogue);
    const auto before = steps();
    duckingOn();
    EXPECT_EQ(fx.tasks.pending(), 0u) << "the run is posted, not started";
    settle();
    EXPECT_EQ(steps(), before + 1);
    EXPECT_EQ(lastStep(), "Основной звук: Приглушение");
    const Envelope& env = track(music).volumeEnvelope;
    ASSERT_EQ(env.size(), 4u);
    EXPECT_NEAR(env[0].time, 0.75, 0.051);
    EXPECT_EQ(env[0].value, 0.0);
    EXPECT_NEAR(env[1].time, 1.0, 0.051);
    EXPECT_EQ(env[1].value, -15.0);
    EXPECT_NEAR(env[2].time, 2.0, 0.051);
    EXPECT_EQ(env[2].value, -15.0);
    EXPECT_NEAR(env[3].time, 2.8, 0.051);
    EXPECT_EQ(env[3].value, 0.0);
    EXPECT_TRUE(store->showEnvelopes());
    EXPECT_EQ(store->status(), L("Автоприглушение: дорожек — {0}", 1));

    // One undo takes the setting and the envelope back together.
    store->undo();
    EXPECT_FALSE(settings(music).duckUnderDialogue);
    EXPECT_EQ(track(music).volumeEnvelope, (Envelope{{0.0, -2.0}}));

    // Switching it off again empties the envelope.
    store->redo();
    store->updateEssential("Приглушение", [](EssentialSound& e) { e.duckUnderDialogue = false; });
    EXPECT_TRUE(track(music).volumeEnvelope.empty());
}

TEST_F(StoreEssentialDucking, AnEditBeforeTheRunGivesItsOwnStep) {
    type(dialogue, SoundType::dialogue);
    duckingOn();
    store->setClipGain(dialogue, -1.0);
    settle();
    EXPECT_EQ(lastStep(), L("Автоприглушение"));
    EXPECT_EQ(track(music).volumeEnvelope.size(), 4u);
}

TEST_F(StoreEssentialDucking, WithoutADialogueClipTheStatusAsksForOne) {
    duckingOn();
    settle();
    EXPECT_EQ(store->status(), L("Приглушение: отметьте дорожку с речью как «Диалог»"));
    EXPECT_EQ(track(music).volumeEnvelope, (Envelope{{0.0, -2.0}}));
}

TEST_F(StoreEssentialDucking, DialogueOnlyOnMutedRowsFindsNoSpeech) {
    type(dialogue, SoundType::dialogue);
    store->toggleLaneMute(rowA);
    duckingOn();
    settle();
    EXPECT_EQ(store->status(), L("Речь под дорожками не найдена"));
    EXPECT_EQ(track(music).volumeEnvelope, (Envelope{{0.0, -2.0}}));
}

TEST_F(StoreEssentialDucking, APostedRunDoesNothingOnceTheStoreIsGone) {
    type(dialogue, SoundType::dialogue);
    duckingOn();
    store.reset();
    EXPECT_EQ(fx.scheduler.runPosted(), 1);
    EXPECT_EQ(fx.tasks.pending(), 0u);
}
