#include "model/EffectSlot.h"

namespace tessoral {

PlistValue EffectSlot::stored() const {
    PlistValue v;
    v.add("id", id);
    v.add("preset", std::string(rawValue(preset)));
    v.add("enabled", enabled);
    v.add("wet", wet);
    PlistValue p;
    for (const auto& [key, value] : params) p.add(key, value);
    v.add("params", std::move(p));
    return v;
}

EffectSlot EffectSlot::fromStored(const PlistValue& v) {
    stored::dict(v, "effect slot");
    EffectSlot s;
    s.id = stored::requireUuid(v, "id");
    const std::string& raw = stored::requireString(v, "preset");
    auto preset = fromRaw<EffectPreset>(raw);
    if (!preset) throw DecodeError("preset: unknown effect " + raw);
    s.preset = *preset;
    if (auto e = v.find("enabled")) s.enabled = stored::boolean(*e, "enabled");
    if (auto w = v.find("wet")) s.wet = stored::number(*w, "wet");
    if (auto p = v.find("params"))
        for (const auto& [key, value] : stored::dict(*p, "params")) s.params[key] = stored::number(value, key);
    return s;
}

}  // namespace tessoral
