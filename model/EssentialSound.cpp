#include "model/EssentialSound.h"

namespace tessoral {

namespace {

PlistValue storedAmount(const EssentialAmount& a) {
    PlistValue v;
    v.add("enabled", a.enabled);
    v.add("amount", a.amount);
    return v;
}

EssentialAmount amountFromStored(const PlistValue& record, std::string_view key) {
    const PlistValue& v = stored::require(record, key);
    stored::dict(v, key);
    return {stored::requireBool(v, "enabled"), stored::requireDouble(v, "amount")};
}

template <class E>
E enumFromStored(const PlistValue& record, std::string_view key) {
    const std::string& raw = stored::requireString(record, key);
    if (auto e = fromRaw<E>(raw)) return *e;
    throw DecodeError(std::string(key) + ": unknown value " + raw);
}

}  // namespace

PlistValue EssentialSound::stored() const {
    PlistValue v;
    v.add("type", std::string(rawValue(type)));
    v.add("matchLoudness", matchLoudness);
    v.add("targetLUFS", targetLUFS);
    v.add("reduceNoise", storedAmount(reduceNoise));
    v.add("reduceRumble", storedAmount(reduceRumble));
    v.add("removeHum", storedAmount(removeHum));
    if (humFrequency) v.add("humFrequency", std::int64_t{*humFrequency});
    v.add("deess", storedAmount(deess));
    v.add("dynamics", storedAmount(dynamics));
    v.add("eq", storedAmount(eq));
    v.add("eqPreset", std::string(rawValue(eqPreset)));
    v.add("enhance", storedAmount(enhance));
    v.add("reverb", storedAmount(reverb));
    v.add("panorama", storedAmount(panorama));
    v.add("duckUnderDialogue", duckUnderDialogue);
    PlistValue ids;
    for (const auto& [role, id] : slotIDs) ids.add(role, id);
    v.add("slotIDs", std::move(ids));
    return v;
}

EssentialSound EssentialSound::fromStored(const PlistValue& v) {
    stored::dict(v, "essentialSound");
    EssentialSound e;
    e.type = enumFromStored<SoundType>(v, "type");
    e.matchLoudness = stored::requireBool(v, "matchLoudness");
    e.targetLUFS = stored::requireDouble(v, "targetLUFS");
    e.reduceNoise = amountFromStored(v, "reduceNoise");
    e.reduceRumble = amountFromStored(v, "reduceRumble");
    e.removeHum = amountFromStored(v, "removeHum");
    if (auto hum = v.find("humFrequency")) {
        const std::int64_t f = stored::integer(*hum, "humFrequency");
        if (f < INT32_MIN || f > INT32_MAX) throw DecodeError("humFrequency: out of range");
        e.humFrequency = static_cast<int>(f);
    }
    e.deess = amountFromStored(v, "deess");
    e.dynamics = amountFromStored(v, "dynamics");
    e.eq = amountFromStored(v, "eq");
    e.eqPreset = enumFromStored<DialogueEQ>(v, "eqPreset");
    e.enhance = amountFromStored(v, "enhance");
    e.reverb = amountFromStored(v, "reverb");
    e.panorama = amountFromStored(v, "panorama");
    e.duckUnderDialogue = stored::requireBool(v, "duckUnderDialogue");
    const PlistValue& ids = stored::require(v, "slotIDs");
    for (const auto& [role, id] : stored::dict(ids, "slotIDs")) e.slotIDs[role] = stored::uuid(id, "slotIDs");
    return e;
}

}  // namespace tessoral
