#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "model/EnumTraits.h"

namespace tessoral {

// The 22 effect kinds; the raw value (the case name) is the stored form.
enum class EffectPreset {
    voice,
    deesser,
    leveler,
    lowCut,
    dehum50,
    dehum60,
    telephone,
    warm,
    bright,
    compressor,
    limiter,
    reverb,
    hall,
    cathedral,
    echo,
    chorus,
    flanger,
    distortion,
    invert,
    autoDenoise,
    parametricEQ,
    graphicEQ,
};

template <>
struct EnumTraits<EffectPreset> {
    static constexpr std::array<std::pair<EffectPreset, std::string_view>, 22> cases{{
        {EffectPreset::voice, "voice"},
        {EffectPreset::deesser, "deesser"},
        {EffectPreset::leveler, "leveler"},
        {EffectPreset::lowCut, "lowCut"},
        {EffectPreset::dehum50, "dehum50"},
        {EffectPreset::dehum60, "dehum60"},
        {EffectPreset::telephone, "telephone"},
        {EffectPreset::warm, "warm"},
        {EffectPreset::bright, "bright"},
        {EffectPreset::compressor, "compressor"},
        {EffectPreset::limiter, "limiter"},
        {EffectPreset::reverb, "reverb"},
        {EffectPreset::hall, "hall"},
        {EffectPreset::cathedral, "cathedral"},
        {EffectPreset::echo, "echo"},
        {EffectPreset::chorus, "chorus"},
        {EffectPreset::flanger, "flanger"},
        {EffectPreset::distortion, "distortion"},
        {EffectPreset::invert, "invert"},
        {EffectPreset::autoDenoise, "autoDenoise"},
        {EffectPreset::parametricEQ, "parametricEQ"},
        {EffectPreset::graphicEQ, "graphicEQ"},
    }};
};

// The preset's display title in the running language.
std::string title(EffectPreset preset);

}  // namespace tessoral
