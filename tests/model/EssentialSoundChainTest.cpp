#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/EssentialSoundChain.h"
#include "model/Localization.h"

using namespace tessoral;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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
    s.humFrequency = 50;
    EXPECT_EQ(chain(s).at(0).preset, EffectPreset::dehum50);
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
    s.reverb = {true, 0.0001};
    EXPECT_EQ(chainSignature(s), std::vector<std::string>{"reverb:reverb:1e-05"});
    s.reverb = {true, 0.001};
    EXPECT_EQ(chainSignature(s), std::vector<std::string>{"reverb:reverb:0.0001"});
    s.reverb = {true, 3};
    EXPECT_EQ(chainSignature(s), std::vector<std::string>{"reverb:reverb:0.3"});
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
    s.panorama = {true, -12};
    EXPECT_EQ(pan(s), -1.0);
    s.panorama = {true, 4};
    EXPECT_DOUBLE_EQ(pan(s).value(), 0.4);
    s.panorama = {true, kNaN};
    EXPECT_EQ(pan(s), 0.0);
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

TEST(EssentialSoundChain, StoredFormRoundTripsAndKeepsMissingHumFrequencyAbsent) {
    EssentialSound s = allOn(SoundType::effects, 4);
    s.slotIDs["reverb"] = Uuid::random();
    EXPECT_EQ(EssentialSound::fromStored(s.stored()), s);
    PlistValue stored = s.stored();
    EXPECT_FALSE(stored.find("humFrequency"));
    EXPECT_FALSE(EssentialSound::fromStored(stored).humFrequency);
    auto& entries = *stored.as<PlistValue::Dict>();
    std::erase_if(entries, [](const auto& e) { return e.first == "panorama"; });
    EXPECT_THROW(EssentialSound::fromStored(stored), DecodeError);
}

TEST(EssentialSoundChain, TitlesAreTranslated) {
    EXPECT_EQ(title(SoundType::dialogue), "Диалог");
    // The "#sfx" tag tells the key apart from the plain word and never shows.
    EXPECT_EQ(title(SoundType::effects), "Эффекты");
    EXPECT_EQ(title(SoundType::ambience), "Атмосфера");
    EXPECT_EQ(title(SoundType::music), "Музыка");
}
