#pragma once

#include <map>
#include <string>
#include <vector>

#include "model/EffectPreset.h"

namespace tessoral {

// The free parameter dictionary of an effect slot: key → value.
using EffectParams = std::map<std::string, double>;

// One adjustable parameter of an effect preset, identified by its key.
struct EffectParameter {
    struct Range {
        double lower = 0.0;
        double upper = 0.0;
    };

    std::string key;          // key in EffectSlot::params
    std::string title;        // display title, already localised
    Range range;              // lowest and highest allowed value (inclusive)
    double defaultValue = 0.0;
    std::string unit;         // localised unit text; empty for none
    bool logarithmic = false; // slider and value grow geometrically across the range
    bool toggle = false;      // on/off switch stored as 1 or 0

    // Slider position 0…1 → value (a non-finite position counts as 0).
    double value(double at) const;
    // Value → slider position 0…1 (a non-finite value counts as the default).
    double position(double of) const;
    // The value as shown beside its slider, with its unit ("2.5 дБ", "12.3 кГц", "вкл").
    std::string display(double v) const;
};

// The parameters of a preset in display order; a new list on every call.
std::vector<EffectParameter> parameters(EffectPreset preset);

// The usable value of one parameter: the default for a missing or non-finite entry, toggles as
// 0 or 1, anything else clamped into range. A key the preset does not define yields the entry
// itself (unchecked), or 0 when absent.
double value(EffectPreset preset, const std::string& key, const EffectParams& params);

// A cleaned copy: only the preset's own keys that are present, each cleaned as value() cleans it.
EffectParams sanitized(EffectPreset preset, const EffectParams& params);

// The two biquad equalisers.
bool isEqualizer(EffectPreset preset);

// Every preset in declaration order except the two equalisers (the effect menus' list).
std::vector<EffectPreset> processingCases();

enum class EQBandKind { highPass, lowShelf, peak, highShelf, lowPass };

// One band of the parametric equaliser as it starts out.
struct EQBandSpec {
    std::string id;
    std::string title;
    EQBandKind kind = EQBandKind::peak;
    double frequency = 1000.0;  // Hz
    double q = 1.0;
    bool enabled = true;
};

namespace EQDesign {

// The eight bands of the parametric equaliser; built (and localised) on first use.
const std::vector<EQBandSpec>& parametricBands();
// The ten band titles of the graphic equaliser; built (and localised) on first use.
const std::vector<std::string>& graphicLabels();
// The graphic equaliser's centre frequencies in Hz, in the order of graphicLabels().
inline constexpr double kGraphicFrequencies[10] = {31.5, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};

}  // namespace EQDesign

}  // namespace tessoral
