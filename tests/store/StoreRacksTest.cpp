// Effect rack commands: adding, changing, reordering, removing, bypassing and flattening.

#include <limits>

#include "StoreTestSupport.h"
#include "model/EffectPreset.h"
#include "processing/AudioIOEffect.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class StoreRacks : public StoreTest {
protected:
    void SetUp() override {
        setClips({Track::make("Голос", noise(48000, 0.5f, 3))});
        store->setSelectedID(clip().id);
    }

    const Track& clip() const { return store->session().tracks.front(); }
    const std::vector<EffectSlot>& rack() const { return clip().rack; }

    // Slots put straight into the project (no undo step).
    void setRack(std::vector<EffectSlot> slots) {
        Session s = store->session();
        s.tracks.front().rack = std::move(slots);
        store->setSession(std::move(s));
    }
};

}  // namespace

TEST_F(StoreRacks, AddsUpToEightSlotsAndIgnoresTheNinthSilently) {
    store->addRackEffect(EffectPreset::compressor);
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Эффект: " + title(EffectPreset::compressor)});
    EXPECT_EQ(store->status(), "Эффект добавлен в цепочку");
    ASSERT_EQ(rack().size(), 1u);
    EXPECT_EQ(rack()[0].preset, EffectPreset::compressor);
    EXPECT_TRUE(rack()[0].enabled);
    EXPECT_EQ(rack()[0].wet, 1.0);
    EXPECT_TRUE(rack()[0].params.empty());

    for (int i = 0; i < 7; ++i) store->addRackEffect(EffectPreset::reverb);
    EXPECT_EQ(rack().size(), 8u);
    store->setStatus("—");
    store->addRackEffect(EffectPreset::echo);
    EXPECT_EQ(rack().size(), 8u);
    EXPECT_EQ(store->undoNames().size(), 8u);
    EXPECT_EQ(store->status(), "—");

    store->setSelectedID(std::nullopt);
    store->addRackEffect(EffectPreset::echo);
    EXPECT_EQ(store->undoNames().size(), 8u);
}

TEST_F(StoreRacks, MovesExchangeNeighboursAndAMovePastEitherEndTakesNoStep) {
    setRack({EffectSlot(EffectPreset::voice), EffectSlot(EffectPreset::echo), EffectSlot(EffectPreset::limiter)});
    const Uuid first = rack()[0].id, last = rack()[2].id;
    store->moveRackSlot(first, -1);
    store->moveRackSlot(last, +1);
    store->moveRackSlot(last, std::numeric_limits<std::int64_t>::min());
    store->moveRackSlot(Uuid::random(), 1);
    EXPECT_TRUE(store->undoNames().empty());

    store->moveRackSlot(first, +1);
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Порядок эффектов"});
    EXPECT_EQ(rack()[1].id, first);
    EXPECT_EQ(rack()[0].preset, EffectPreset::echo);
    store->moveRackSlot(first, +1);  // the offset swaps the two positions
    EXPECT_EQ(rack()[2].id, first);
    EXPECT_EQ(rack()[1].preset, EffectPreset::limiter);
}

TEST_F(StoreRacks, SlotControlsAreNamedStepsAndAPresetChangeResetsItsParameters) {
    EffectSlot slot(EffectPreset::compressor);
    slot.params = {{"threshold", -30.0}};
    setRack({slot, EffectSlot(EffectPreset::echo)});
    const Uuid id = clip().id;

    store->setRackSlotPreset(id, slot.id, EffectPreset::limiter);
    EXPECT_EQ(rack()[0].preset, EffectPreset::limiter);
    EXPECT_TRUE(rack()[0].params.empty());
    store->undo();
    EXPECT_EQ(rack()[0], slot);  // undo restores preset and parameters together

    store->toggleRackSlotEnabled(id, slot.id);
    EXPECT_FALSE(rack()[0].enabled);
    store->setRackSlotWet(id, slot.id, 1.7);
    EXPECT_EQ(rack()[0].wet, 1.0);
    store->setRackSlotWet(id, slot.id, 0.25);
    EXPECT_EQ(rack()[0].wet, 0.25);
    store->setRackSlotWet(id, slot.id, kNaN);
    store->toggleRackSlotEnabled(id, Uuid::random());  // a slot the rack does not hold
    EXPECT_EQ(store->undoNames(), (std::vector<std::string>{"Настройка эффекта", "Настройка эффекта", "Настройка эффекта"}));

    store->removeRackSlot(id, slot.id);
    ASSERT_EQ(rack().size(), 1u);
    EXPECT_EQ(rack()[0].preset, EffectPreset::echo);
    store->toggleRackBypass(id);
    EXPECT_TRUE(clip().rackBypassed);
    EXPECT_EQ(store->undoNames().back(), "Обход эффектов");
    EXPECT_EQ(store->undoNames()[store->undoNames().size() - 2], "Удаление эффекта");
    store->removeRackSlot(id, slot.id);  // gone already
    EXPECT_EQ(store->undoNames().size(), 5u);
}

TEST_F(StoreRacks, FlatteningRendersTheRackIntoTheAudioAndEmptiesIt) {
    const AudioData original = clip().audio;
    EffectSlot invert(EffectPreset::invert);
    EffectSlot off(EffectPreset::echo);
    off.enabled = false;
    setRack({off, invert});
    Session s = store->session();
    EssentialSound essential(SoundType::dialogue);
    essential.slotIDs = {{"denoise", off.id}};
    s.tracks.front().essentialSound = essential;
    store->setSession(s);

    store->flattenRack();
    EXPECT_TRUE(store->busy());
    EXPECT_EQ(store->status(), "Применение цепочки…");
    fx.tasks.runAll();
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(store->status(), "Цепочка применена к звуку");
    EXPECT_EQ(store->undoNames(), std::vector<std::string>{"Применение цепочки"});
    EXPECT_TRUE(rack().empty());
    EXPECT_FALSE(clip().essentialSound);
    EXPECT_EQ(clip().audio, AudioIO::effect(EffectPreset::invert, original, {}));
    EXPECT_EQ(clip().peaks, Track::make("", clip().audio).peaks);
}

TEST_F(StoreRacks, FlatteningDisabledSlotsKeepsTheSamplesAndABypassedRackDoesNothing) {
    EffectSlot off(EffectPreset::echo);
    off.enabled = false;
    setRack({off});
    Session s = store->session();
    s.tracks.front().rackBypassed = true;
    store->setSession(s);
    store->flattenRack();
    EXPECT_FALSE(store->busy());
    EXPECT_EQ(fx.tasks.pending(), 0u);

    s.tracks.front().rackBypassed = false;
    s.tracks.front().essentialSound = EssentialSound(SoundType::music);
    store->setSession(s);
    const Track before = clip();
    store->flattenRack();
    fx.tasks.runAll();
    EXPECT_EQ(clip().audio, before.audio);
    EXPECT_NE(clip().revision, before.revision);
    EXPECT_TRUE(rack().empty());
    EXPECT_FALSE(clip().essentialSound);

    store->flattenRack();  // an empty rack: nothing
    EXPECT_EQ(fx.tasks.pending(), 0u);
    EXPECT_EQ(store->undoNames().size(), 1u);
}
