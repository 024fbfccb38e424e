#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>

#include "model/EssentialSoundChain.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/EssentialSoundEngine.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"

using namespace tessoral;

namespace {

std::vector<EffectSlot> userSlots(int count) {
    std::vector<EffectSlot> rack;
    for (int i = 0; i < count; ++i) {
        EffectSlot slot(EffectPreset::compressor);
        slot.params["threshold"] = -10.0 - i;
        rack.push_back(slot);
    }
    return rack;
}

EssentialSound humOnly(double amount = 5.0) {
    EssentialSound s(SoundType::dialogue);
    s.removeHum = {true, amount};
    return s;
}

// A steady hum of a fundamental and (optionally) its second and third harmonics, in both channels.
AudioData hum(double frequency, std::int64_t frames, bool harmonics, double level = 0.1) {
    const auto n = static_cast<std::size_t>(frames);
    std::vector<float> x = test::sine(n, frequency, level);
    if (harmonics) x = test::plus(test::plus(x, test::sine(n, 2 * frequency, 0.5 * level)), test::sine(n, 3 * frequency, 0.3 * level));
    return AudioData::mono(std::move(x));
}

}  // namespace

TEST(EssentialSoundEngine, GeneratedSlotsMustFitTheRack) {
    EXPECT_EQ(test::refusal([] { EssentialSoundEngine::apply(humOnly(), std::nullopt, userSlots(8)); }),
              "В цепочке эффектов не хватает слотов: удалите лишние эффекты клипа.");

    const auto seven = userSlots(7);
    const auto result = EssentialSoundEngine::apply(humOnly(), std::nullopt, seven);
    ASSERT_EQ(result.rack.size(), 8u);
    const EffectSlot& generated = result.rack[0];
    EXPECT_EQ(generated.preset, EffectPreset::dehum50);
    EXPECT_DOUBLE_EQ(generated.wet, 0.5);
    EXPECT_TRUE(generated.enabled);
    EXPECT_TRUE(generated.params.empty());
    for (int i = 0; i < 7; ++i) EXPECT_EQ(result.rack[static_cast<std::size_t>(i + 1)], seven[static_cast<std::size_t>(i)]);
    ASSERT_TRUE(result.settings);
    EXPECT_EQ(result.settings->slotIDs.size(), 1u);
    EXPECT_EQ(result.settings->slotIDs.at("hum"), generated.id);

    // Absent settings are not held to the limit: a rack already over it stays as it is.
    const auto nine = userSlots(9);
    EXPECT_EQ(EssentialSoundEngine::apply(std::nullopt, std::nullopt, nine).rack, nine);
}

TEST(EssentialSoundEngine, ReapplyingKeepsIdsAndOnOffStateButResetsParameters) {
    EssentialSound settings(SoundType::dialogue);
    settings.reduceNoise = {true, 3.0};
    settings.removeHum = {true, 10.0};
    settings.humFrequency = 60;
    settings.eq = {true, 15.0};
    settings.eqPreset = DialogueEQ::telephone;
    const auto user = userSlots(2);

    auto first = EssentialSoundEngine::apply(settings, std::nullopt, user);
    ASSERT_EQ(first.rack.size(), 5u);
    EXPECT_EQ(first.rack[0].preset, EffectPreset::autoDenoise);
    EXPECT_DOUBLE_EQ(first.rack[0].wet, 0.3);
    EXPECT_EQ(first.rack[1].preset, EffectPreset::dehum60);
    EXPECT_EQ(first.rack[2].preset, EffectPreset::telephone);
    EXPECT_DOUBLE_EQ(first.rack[2].wet, 1.0);
    EXPECT_EQ(first.rack[3], user[0]);
    EXPECT_EQ(first.rack[4], user[1]);

    // The user disables the hum slot and edits the denoiser's parameters.
    std::vector<EffectSlot> edited = first.rack;
    edited[1].enabled = false;
    edited[0].params["amount"] = 0.9;
    edited[0].wet = 0.1;
    EssentialSound changed = *first.settings;
    changed.reduceNoise.amount = 6.0;
    auto second = EssentialSoundEngine::apply(changed, first.settings, edited);
    ASSERT_EQ(second.rack.size(), 5u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(second.rack[static_cast<std::size_t>(i)].id, first.rack[static_cast<std::size_t>(i)].id);
    EXPECT_TRUE(second.rack[0].params.empty());
    EXPECT_DOUBLE_EQ(second.rack[0].wet, 0.6);
    EXPECT_TRUE(second.rack[0].enabled);
    EXPECT_FALSE(second.rack[1].enabled);
    EXPECT_EQ(second.settings->slotIDs, first.settings->slotIDs);

    // An option switched off removes its slot but keeps its id for when it comes back.
    EssentialSound without = changed;
    without.removeHum.enabled = false;
    auto third = EssentialSoundEngine::apply(without, second.settings, second.rack);
    ASSERT_EQ(third.rack.size(), 4u);
    EXPECT_EQ(third.settings->slotIDs.at("hum"), first.settings->slotIDs.at("hum"));
    without.removeHum.enabled = true;
    auto fourth = EssentialSoundEngine::apply(without, third.settings, third.rack);
    EXPECT_EQ(fourth.rack[1].id, first.rack[1].id);
    EXPECT_TRUE(fourth.rack[1].enabled);  // its slot was gone, so the old state is forgotten
}

TEST(EssentialSoundEngine, EmptyChainsAndAbsentSettingsRemoveOnlyGeneratedSlots) {
    const auto user = userSlots(3);
    EssentialSound settings(SoundType::ambience);
    settings.reverb = {true, 3.0};
    auto applied = EssentialSoundEngine::apply(settings, std::nullopt, user);
    ASSERT_EQ(applied.rack.size(), 4u);
    EXPECT_EQ(applied.rack[0].preset, EffectPreset::hall);

    // A user slot moved in front of the generated one stays where the user put it, in order.
    std::vector<EffectSlot> rack = {applied.rack[1], applied.rack[0], applied.rack[2], applied.rack[3]};

    EssentialSound music = *applied.settings;
    music.type = SoundType::music;
    auto emptied = EssentialSoundEngine::apply(music, applied.settings, rack);
    EXPECT_EQ(emptied.rack, user);
    EXPECT_EQ(emptied.settings->slotIDs, applied.settings->slotIDs);

    auto reset = EssentialSoundEngine::apply(std::nullopt, applied.settings, rack);
    EXPECT_EQ(reset.rack, user);
    EXPECT_FALSE(reset.settings.has_value());
}

TEST(EssentialSoundEngine, TwoRolesRecordedWithOneIdStillGiveDistinctSlots) {
    EssentialSound settings(SoundType::dialogue);
    settings.reduceNoise = {true, 5.0};
    settings.deess = {true, 5.0};
    const Uuid shared = Uuid::random();
    settings.slotIDs = {{"denoise", shared}, {"deess", shared}};
    const auto result = EssentialSoundEngine::apply(settings, std::nullopt, {});
    ASSERT_EQ(result.rack.size(), 2u);
    EXPECT_NE(result.rack[0].id, result.rack[1].id);
    EXPECT_EQ(result.rack[0].id, shared);
    EXPECT_TRUE(isValid(*result.settings));
}

TEST(EssentialSoundEngine, DetectHumTellsFiftyFromSixty) {
    for (bool harmonics : {false, true}) {
        EXPECT_EQ(EssentialSoundEngine::detectHum(hum(60.0, 96'000, harmonics)), 60) << harmonics;
        EXPECT_EQ(EssentialSoundEngine::detectHum(hum(50.0, 96'000, harmonics)), 50) << harmonics;
    }
    // A quiet 60 Hz hum under louder broadband noise.
    const AudioData noisy = test::noise(240'000, 0.3f, 7), h = hum(60.0, 240'000, true, 0.02);
    EXPECT_EQ(EssentialSoundEngine::detectHum(
                  AudioData(test::plus(noisy.left.toVector(), h.left.span()), test::plus(noisy.right.toVector(), h.right.span()))),
              60);

    EXPECT_EQ(EssentialSoundEngine::detectHum(AudioData()), 50);
    EXPECT_EQ(EssentialSoundEngine::detectHum(AudioData::silence(48'000)), 50);
}

TEST(EssentialSoundEngine, DetectHumReadsOnlyTheFirstThirtySeconds) {
    constexpr std::size_t limit = 1'440'000;
    const AudioData loud60 = hum(60.0, 480'000, true, 0.9);
    auto clip = [&](std::size_t from) {
        std::vector<float> x = hum(50.0, static_cast<std::int64_t>(limit + 480'000), false, 0.01).left.toVector();
        for (std::size_t i = 0; i < 480'000; ++i) x[from + i] = loud60.left[i];
        return AudioData::mono(std::move(x));
    };
    EXPECT_EQ(EssentialSoundEngine::detectHum(clip(limit)), 50);
    EXPECT_EQ(EssentialSoundEngine::detectHum(clip(limit - 48'000)), 60);
}
