#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/EffectPreset.h"
#include "model/EssentialSound.h"

namespace tessoral {

// The sound type's display title in the running language.
std::string title(SoundType type);

// One effect that essential-sound settings ask for: its role, its preset and its dry/wet mix in (0, 1].
struct ChainEntry {
    EssentialRole role = EssentialRole::denoise;
    EffectPreset preset = EffectPreset::voice;
    double wet = 1.0;
    friend bool operator==(const ChainEntry&, const ChainEntry&) = default;
};

// True when every value lies in its range: target loudness −40 … −5 LUFS, option amounts
// 0 … 10, panorama −10 … 10, hum frequency absent, 50 or 60, and at most 8 slot ids keyed by
// role names with no id used twice.
bool isValid(const EssentialSound& settings);

// The effects the settings ask for, in processing order; options of other sound types are ignored.
// The entries carry no parameters: their slots run at the presets' defaults.
std::vector<ChainEntry> chain(const EssentialSound& settings);

// One text per chain entry, "role:preset:wet" ("hum:dehum50:0.5", "reverb:hall:1.0"), to tell
// whether an edit changed the generated chain.
std::vector<std::string> chainSignature(const EssentialSound& settings);

// The clip pan that the settings ask for: only for effects with panorama on, amount / 10 in −1 … 1.
std::optional<double> pan(const EssentialSound& settings);

// Whether the clip is lowered under dialogue: music and ambience with the option on.
bool ducks(const EssentialSound& settings);

}  // namespace tessoral
