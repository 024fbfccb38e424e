#pragma once

#include <map>
#include <string>

#include "model/EffectPreset.h"
#include "model/PlistValue.h"
#include "model/Uuid.h"

namespace tessoral {

// One effect in a clip's rack.
struct EffectSlot {
    Uuid id = Uuid::random();
    EffectPreset preset = EffectPreset::voice;
    bool enabled = true;
    double wet = 1.0;                       // dry/wet mix 0…1
    std::map<std::string, double> params;   // missing keys take the preset's defaults

    EffectSlot() = default;
    explicit EffectSlot(EffectPreset p) : preset(p) {}

    friend bool operator==(const EffectSlot&, const EffectSlot&) = default;

    // All five keys, always.
    PlistValue stored() const;
    // Requires "id" and a known "preset"; "enabled", "wet", "params" default to true, 1.0, empty.
    static EffectSlot fromStored(const PlistValue& v);
};

}  // namespace tessoral
