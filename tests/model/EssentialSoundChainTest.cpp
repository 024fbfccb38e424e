#include <gtest/gtest.h>

#include "model/EssentialSoundChain.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::kInf, test::kNaN;

namespace {

EssentialSound allOn(SoundType type, double amount) {
    EssentialSound s(type);
    for (EssentialAmount* a : {&s.reduceNoise, &s.reduceRumble, &s.removeHum, &s.deess, &s.dynamics, &s.eq,
                               &s.enhance, &s.reverb, &s.panorama}) {
        *a = {true, amount};
    }
    return s;
}

}  // namespace

TEST(EssentialSoundChain, DefaultsOfEveryTypeGiveNoChain) {
    for (SoundType t : allCases<SoundType>()) {
        const EssentialSound s(t);
        EXPECT_TRUE(chain(s).empty());
        EXPECT_TRUE(chainSignature(s).empty());
        EXPECT_TRUE(isValid(s));
    }
}

TEST(EssentialSoundChain, DialogueChainOrderPresetsAndSignature) {
    EssentialSound s = allOn(SoundType::dialogue, 5);
    s.eqPreset = DialogueEQ::warmVoice;
    const std::vector<ChainEntry> expected = {
        {EssentialRole::denoise, EffectPreset::autoDenoise, 0.5}, {EssentialRole::rumble, EffectPreset::lowCut, 0.5},
        {EssentialRole::hum, EffectPreset::dehum50, 0.5},         {EssentialRole::deess, EffectPreset::deesser, 0.5},
        {EssentialRole::dynamics, EffectPreset::compressor, 0.5}, {EssentialRole::eq, EffectPreset::warm, 0.5},
        {EssentialRole::enhance, EffectPreset::bright, 0.5},
    };
    EXPECT_EQ(chain(s), expected);  // reverb and panorama belong to other types
    EXPECT_EQ(chainSignature(s).front(), "denoise:autoDenoise:0.5");

    const std::pair<DialogueEQ, EffectPreset> eqs[] = {{DialogueEQ::podcast, EffectPreset::voice},
                                                       {DialogueEQ::radio, EffectPreset::bright},
                                                       {DialogueEQ::telephone, EffectPreset::telephone}};
    for (const auto& [eq, preset] : eqs) {
        s.eqPreset = eq;
        EXPECT_EQ(chain(s)[5].preset, preset);
    }
}

TEST(EssentialSoundChain, HumPresetFollowsTheDetectedFrequency) {
    EssentialSound s(SoundType::dialogue);
    s.removeHum = {true, 5};
    EXPECT_EQ(chain(s), (std::vector<ChainEntry>{{EssentialRole::hum, EffectPreset::dehum50, 0.5}}));
    s.humFrequency = 60;
    EXPECT_EQ(chain(s).at(0).preset, EffectPreset::dehum60);
}

TEST(EssentialSoundChain, AmountsBecomeWetMixOnlyWhenPositiveAndFinite) {
    EssentialSound s(SoundType::effects);
    s.reverb = {true, 15};
    EXPECT_EQ(chain(s), (std::vector<ChainEntry>{{EssentialRole::reverb, EffectPreset::reverb, 1.0}}));
    EXPECT_EQ(chainSignature(s), std::vector<std::string>{"reverb:reverb:1.0"});
    for (double amount : {0.0, -0.0, -3.0, kNaN, kInf, -kInf}) {
        s.reverb = {true, amount};
        EXPECT_TRUE(chain(s).empty()) << amount;
    }
    s.reverb = {false, 7};
    EXPECT_TRUE(chain(s).empty());
    // Tiny amounts keep their own digits in the signature.
    for (const auto& [amount, text] : {std::pair{0.0001, "1e-05"}, {0.001, "0.0001"}, {3.0, "0.3"}}) {
        s.reverb = {true, amount};
        EXPECT_EQ(chainSignature(s), std::vector<std::string>{std::string("reverb:reverb:") + text});
    }
}

TEST(EssentialSoundChain, AmbienceGetsHallAndMusicNothing) {
    EssentialSound s(SoundType::ambience);
    s.reverb = {true, 3};
    EXPECT_EQ(chain(s), (std::vector<ChainEntry>{{EssentialRole::reverb, EffectPreset::hall, 0.3}}));
    s.type = SoundType::music;
    EXPECT_TRUE(chain(s).empty());
    EXPECT_TRUE(chain(allOn(SoundType::music, 10)).empty());
}

TEST(EssentialSoundChain, PanOnlyForEffectsWithPanoramaOn) {
    EssentialSound s(SoundType::effects);
    for (const auto& [amount, expected] : {std::pair{-12.0, -1.0}, {4.0, 0.4}, {kNaN, 0.0}}) {
        s.panorama = {true, amount};
        EXPECT_DOUBLE_EQ(pan(s).value(), expected) << amount;
    }
    s.panorama = {false, 4};
    EXPECT_FALSE(pan(s));
    EXPECT_FALSE(pan(allOn(SoundType::dialogue, 5)));
}

TEST(EssentialSoundChain, DucksOnlyForMusicAndAmbience) {
    for (SoundType t : allCases<SoundType>()) {
        EssentialSound s(t);
        EXPECT_FALSE(ducks(s));
        s.duckUnderDialogue = true;
        EXPECT_EQ(ducks(s), t == SoundType::music || t == SoundType::ambience);
    }
}

TEST(EssentialSoundChain, ValidityRanges) {
    auto valid = [](auto change) {
        EssentialSound s(SoundType::dialogue);
        change(s);
        return isValid(s);
    };
    EXPECT_TRUE(valid([](EssentialSound& s) { s.targetLUFS = -40; }));
    EXPECT_TRUE(valid([](EssentialSound& s) { s.targetLUFS = -5; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.targetLUFS = -4; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.targetLUFS = -40.5; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.targetLUFS = kNaN; }));
    EXPECT_TRUE(valid([](EssentialSound& s) { s.deess.amount = -0.0; }));
    EXPECT_TRUE(valid([](EssentialSound& s) { s.enhance.amount = 10; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.enhance.amount = 10.5; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.reverb.amount = -1; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.reduceNoise.amount = kInf; }));
    // Amounts of disabled options are checked too.
    EXPECT_FALSE(valid([](EssentialSound& s) { s.removeHum = {false, kNaN}; }));
    EXPECT_TRUE(valid([](EssentialSound& s) { s.panorama.amount = -10; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.panorama.amount = 10.01; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.panorama.amount = -kInf; }));
    EXPECT_TRUE(valid([](EssentialSound& s) { s.humFrequency = 60; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.humFrequency = 55; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.humFrequency = 0; }));
    EXPECT_FALSE(valid([](EssentialSound& s) { s.slotIDs["gain"] = Uuid::random(); }));
    EXPECT_FALSE(valid([](EssentialSound& s) {
        const Uuid id = Uuid::random();
        s.slotIDs["hum"] = id;
        s.slotIDs["eq"] = id;
    }));
    EXPECT_TRUE(valid([](EssentialSound& s) {
        for (EssentialRole r : allCases<EssentialRole>()) s.slotIDs[std::string(rawValue(r))] = Uuid::random();
    }));
}
