#include <gtest/gtest.h>

#include <algorithm>

#include "model/AutomationPoint.h"
#include "model/EditorVocabulary.h"
#include "model/EffectSlot.h"
#include "model/EssentialSound.h"
#include "model/ExportFormat.h"
#include "model/Lane.h"
#include "model/Limits.h"
#include "model/SessionMarker.h"
#include "model/SplitMix64.h"
#include "model/Uuid.h"

using namespace tessoral;

namespace {

// The stored form without the named keys.
PlistValue without(const PlistValue& v, std::initializer_list<std::string_view> keys) {
    PlistValue out;
    for (const auto& [k, value] : *v.as<PlistValue::Dict>())
        if (std::find(keys.begin(), keys.end(), k) == keys.end()) out.add(k, value);
    return out;
}

}  // namespace

TEST(Vocabulary, RawValuesAreExactAndCaseSensitive) {
    EXPECT_EQ(fromRaw<EffectPreset>("graphicEQ"), EffectPreset::graphicEQ);
    EXPECT_FALSE(fromRaw<EffectPreset>("graphiceq"));
    EXPECT_FALSE(fromRaw<ExportFormat>("WAV24"));
    EXPECT_FALSE(fromRaw<FadeCurve>("Linear"));
}

TEST(StoredForms, EffectSlotDefaultsAndUnknownPresets) {
    const Uuid id = Uuid::random();
    PlistValue minimal;
    minimal.add("id", id);
    minimal.add("preset", "echo");
    const EffectSlot slot = EffectSlot::fromStored(minimal);
    EXPECT_TRUE(slot.id == id && slot.enabled && slot.wet == 1.0 && slot.params.empty());
    const PlistValue back = slot.stored();
    const auto& keys = *back.as<PlistValue::Dict>();
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[0].first + keys[4].first, "idparams");

    PlistValue future = minimal;
    future.as<PlistValue::Dict>()->at(1).second = "timeMachine";
    EXPECT_THROW(EffectSlot::fromStored(future), DecodeError);
    PlistValue wrongType = minimal;
    wrongType.add("wet", "full");
    EXPECT_THROW(EffectSlot::fromStored(wrongType), DecodeError);

    EffectSlot full(EffectPreset::chorus);
    full.enabled = false, full.wet = 0.25, full.params = {{"rate", 1.5}, {"depth", 3}};
    EXPECT_EQ(EffectSlot::fromStored(full.stored()), full);
}

TEST(StoredForms, MarkerEndIsOptional) {
    SessionMarker point{Uuid::random(), "Куплет", 12.5, std::nullopt};
    const PlistValue v = point.stored();
    EXPECT_EQ(v.find("end"), nullptr);
    EXPECT_EQ(SessionMarker::fromStored(v), point);
    SessionMarker range = point;
    range.end = 20;
    EXPECT_EQ(SessionMarker::fromStored(range.stored()), range);
    EXPECT_THROW(SessionMarker::fromStored(without(v, {"name"})), DecodeError);
    PlistValue intStart = without(v, {"start"});  // integers read as doubles
    intStart.add("start", 3);
    EXPECT_EQ(SessionMarker::fromStored(intStart).start, 3.0);
}

TEST(StoredForms, LaneNeedsAllSevenKeys) {
    const Lane lane{.name = "Голос", .color = 3, .gainDB = -1.5, .solo = true};
    const PlistValue v = lane.stored();
    EXPECT_EQ(Lane::fromStored(v), lane);
    for (const char* key : {"id", "name", "color", "gainDB", "pan", "muted", "solo"})
        EXPECT_THROW(Lane::fromStored(without(v, {key})), DecodeError) << key;
    PlistValue wrong = v;
    wrong.as<PlistValue::Dict>()->at(5).second = 1;  // "muted" as an integer
    EXPECT_THROW(Lane::fromStored(wrong), DecodeError);
}

TEST(StoredForms, EssentialSoundRoundTripAndStrictness) {
    EssentialSound e(SoundType::music);
    e.humFrequency = 60, e.duckUnderDialogue = true, e.panorama = {true, -4};
    e.slotIDs["hum"] = Uuid::random();
    const PlistValue v = e.stored();
    EXPECT_EQ(EssentialSound::fromStored(v), e);
    EXPECT_EQ((*v.as<PlistValue::Dict>())[6].first, "humFrequency");

    const EssentialSound noHum(SoundType::dialogue);  // an absent frequency stays absent
    EXPECT_EQ(noHum.stored().find("humFrequency"), nullptr);
    EXPECT_EQ(EssentialSound::fromStored(noHum.stored()), noHum);

    PlistValue badType = v;
    badType.as<PlistValue::Dict>()->at(0).second = "speech";
    EXPECT_THROW(EssentialSound::fromStored(badType), DecodeError);
    for (const char* key : {"slotIDs", "panorama"})
        EXPECT_THROW(EssentialSound::fromStored(without(v, {key})), DecodeError) << key;
}

TEST(Uuid, TextFormAndParsing) {
    const Uuid a = Uuid::random();
    const std::string text = a.text();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
    EXPECT_EQ(Uuid::parse(text), a);
    std::string lower = text;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(Uuid::parse(lower), a);
    for (const std::string& bad : {text.substr(1), std::string("ZZZZZZZZ-ZZZZ-ZZZZ-ZZZZ-ZZZZZZZZZZZZ"),
                                  std::string("0000000000000-0000-0000-000000000000")})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    EXPECT_NE(Uuid::random(), Uuid::random());
}

TEST(Palette, AnyStoredColourIndexesThePalette) {
    const std::pair<long long, int> cases[] = {
        {0, 0}, {7, 7}, {9, 1}, {-1, 7}, {std::numeric_limits<long long>::min(), 0},
        {std::numeric_limits<long long>::max(), 7}};
    for (const auto& [stored, index] : cases) EXPECT_EQ(paletteIndex(stored), index) << stored;
}

TEST(SplitMix64, PublishedSequence) {
    // The first outputs of the published generator for seed 0.
    SplitMix64 rng(0);
    EXPECT_EQ(rng.next(), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(rng.next(), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(rng.next(), 0x06C45D188009454Full);
    SplitMix64 a(42), b(42);
    for (int i = 0; i < 1000; ++i) {
        const double u = a.uniform();
        ASSERT_EQ(u, b.uniform());
        ASSERT_TRUE(u >= -1.0 && u < 1.0) << u;
    }
}
