#include <gtest/gtest.h>

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

TEST(Vocabulary, RawValuesAreExactAndCaseSensitive) {
    EXPECT_EQ(fromRaw<ExportFormat>("wav24"), ExportFormat::wav24);
    EXPECT_FALSE(fromRaw<ExportFormat>("WAV24"));
    EXPECT_EQ(fromRaw<EffectPreset>("graphicEQ"), EffectPreset::graphicEQ);
    EXPECT_FALSE(fromRaw<EffectPreset>("graphiceq"));
    EXPECT_EQ(allCases<EffectPreset>().size(), 22u);
    EXPECT_EQ(rawValue(EffectPreset::autoDenoise), "autoDenoise");
    EXPECT_EQ(caseIndex(EffectPreset::graphicEQ), 21u);
    EXPECT_EQ(rawValue(TimelineTool::razor), "razor");
    EXPECT_EQ(allCases<EditorMode>(), (std::vector<EditorMode>{EditorMode::waveform, EditorMode::multitrack, EditorMode::mixer}));
    EXPECT_FALSE(fromRaw<FadeCurve>("Linear"));
    EXPECT_EQ(rawValue(EssentialRole::enhance), "enhance");
}

TEST(Vocabulary, ExportFormats) {
    EXPECT_EQ(title(ExportFormat::wav32f), "WAV · 32 bit float");
    EXPECT_EQ(title(ExportFormat::flac), "FLAC · без потерь");
    EXPECT_EQ(fileExtension(ExportFormat::aiff24), "aiff");
    EXPECT_EQ(fileExtension(ExportFormat::alac), "m4a");
    int aac = 0;
    for (auto f : allCases<ExportFormat>()) aac += isAAC(f);
    EXPECT_EQ(aac, 3);
    EXPECT_TRUE(*settings(ExportFormat::aiff24).isBigEndian);
    EXPECT_FALSE(*settings(ExportFormat::wav24).isBigEndian);
    EXPECT_EQ(settings(ExportFormat::aac192).formatID, fourCC("aac "));
    EXPECT_EQ(*settings(ExportFormat::aac192).bitRate, 192000);
    EXPECT_EQ(*settings(ExportFormat::alac).encoderBitDepthHint, 24);
    EXPECT_EQ(settings(ExportFormat::flac).sampleRate, 48000.0);
    EXPECT_EQ(settings(ExportFormat::wav16).channels, 2);
}

TEST(StoredForms, EffectSlotDefaultsAndUnknownPresets) {
    const Uuid id = Uuid::random();
    PlistValue minimal;
    minimal.add("id", id);
    minimal.add("preset", "echo");
    const EffectSlot slot = EffectSlot::fromStored(minimal);
    EXPECT_EQ(slot.id, id);
    EXPECT_TRUE(slot.enabled);
    EXPECT_EQ(slot.wet, 1.0);
    EXPECT_TRUE(slot.params.empty());
    const PlistValue back = slot.stored();
    const auto& keys = *back.as<PlistValue::Dict>();
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[0].first, "id");
    EXPECT_EQ(keys[4].first, "params");

    PlistValue future = minimal;
    future.as<PlistValue::Dict>()->at(1).second = "timeMachine";
    EXPECT_THROW(EffectSlot::fromStored(future), DecodeError);
    PlistValue wrongType = minimal;
    wrongType.add("wet", "full");
    EXPECT_THROW(EffectSlot::fromStored(wrongType), DecodeError);

    EffectSlot full(EffectPreset::chorus);
    full.enabled = false;
    full.wet = 0.25;
    full.params = {{"rate", 1.5}, {"depth", 3}};
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
    PlistValue noName;
    noName.add("id", point.id);
    noName.add("start", 1.0);
    EXPECT_THROW(SessionMarker::fromStored(noName), DecodeError);
    // Integers read as doubles.
    PlistValue intStart;
    intStart.add("id", point.id);
    intStart.add("name", "a");
    intStart.add("start", 3);
    EXPECT_EQ(SessionMarker::fromStored(intStart).start, 3.0);
}

TEST(StoredForms, LaneNeedsAllSevenKeys) {
    Lane lane;
    lane.name = "Голос";
    lane.color = 3;
    lane.gainDB = -1.5;
    lane.solo = true;
    const PlistValue v = lane.stored();
    EXPECT_EQ(Lane::fromStored(v), lane);
    for (const char* key : {"id", "name", "color", "gainDB", "pan", "muted", "solo"}) {
        PlistValue missing;
        for (const auto& [k, value] : *v.as<PlistValue::Dict>())
            if (k != key) missing.add(k, value);
        EXPECT_THROW(Lane::fromStored(missing), DecodeError) << key;
    }
    PlistValue wrong = v;
    wrong.as<PlistValue::Dict>()->at(5).second = 1;  // "muted" as an integer
    EXPECT_THROW(Lane::fromStored(wrong), DecodeError);
}

TEST(StoredForms, EssentialSoundRoundTripAndStrictness) {
    EssentialSound e(SoundType::music);
    e.humFrequency = 60;
    e.duckUnderDialogue = true;
    e.panorama = {true, -4};
    e.slotIDs["hum"] = Uuid::random();
    const PlistValue v = e.stored();
    EXPECT_EQ(EssentialSound::fromStored(v), e);
    EXPECT_EQ((*v.as<PlistValue::Dict>())[6].first, "humFrequency");

    EssentialSound noHum(SoundType::dialogue);
    EXPECT_EQ(noHum.stored().find("humFrequency"), nullptr);
    EXPECT_EQ(EssentialSound::fromStored(noHum.stored()), noHum);

    PlistValue badType = v;
    badType.as<PlistValue::Dict>()->at(0).second = "speech";
    EXPECT_THROW(EssentialSound::fromStored(badType), DecodeError);
    PlistValue noSlots;
    for (const auto& [k, value] : *v.as<PlistValue::Dict>())
        if (k != "slotIDs") noSlots.add(k, value);
    EXPECT_THROW(EssentialSound::fromStored(noSlots), DecodeError);
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
    EXPECT_FALSE(Uuid::parse(text.substr(1)));
    EXPECT_FALSE(Uuid::parse("ZZZZZZZZ-ZZZZ-ZZZZ-ZZZZ-ZZZZZZZZZZZZ"));
    EXPECT_FALSE(Uuid::parse("0000000000000-0000-0000-000000000000"));
    EXPECT_NE(Uuid::random(), Uuid::random());
}

TEST(Palette, AnyStoredColourIndexesThePalette) {
    EXPECT_EQ(paletteIndex(0), 0);
    EXPECT_EQ(paletteIndex(7), 7);
    EXPECT_EQ(paletteIndex(9), 1);
    EXPECT_EQ(paletteIndex(-1), 7);
    EXPECT_EQ(paletteIndex(std::numeric_limits<long long>::min()), 0);
    EXPECT_EQ(paletteIndex(std::numeric_limits<long long>::max()), 7);
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
        EXPECT_EQ(u, b.uniform());
        ASSERT_GE(u, -1.0);
        ASSERT_LT(u, 1.0);
    }
}
