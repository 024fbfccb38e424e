#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "model/EnumTraits.h"

namespace tessoral {

// The effects sheet that the store's `effectsSheet` names (none open when it holds no value).
enum class EffectsSheet { saveFavorite, manageFavorites, batch };

template <>
struct EnumTraits<EffectsSheet> {
    static constexpr std::array<std::pair<EffectsSheet, std::string_view>, 3> cases{{
        {EffectsSheet::saveFavorite, "saveFavorite"},
        {EffectsSheet::manageFavorites, "manageFavorites"},
        {EffectsSheet::batch, "batch"},
    }};
};

}  // namespace tessoral
