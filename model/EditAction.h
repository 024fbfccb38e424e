#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "model/EnumTraits.h"

namespace tessoral {

// The destructive edits; the raw value is the identity.
enum class EditAction { normalize, peak, fadeIn, fadeOut, reverse, silence, gain, trim, delete_ };

template <>
struct EnumTraits<EditAction> {
    static constexpr std::array<std::pair<EditAction, std::string_view>, 9> cases{{
        {EditAction::normalize, "normalize"},
        {EditAction::peak, "peak"},
        {EditAction::fadeIn, "fadeIn"},
        {EditAction::fadeOut, "fadeOut"},
        {EditAction::reverse, "reverse"},
        {EditAction::silence, "silence"},
        {EditAction::gain, "gain"},
        {EditAction::trim, "trim"},
        {EditAction::delete_, "delete"},
    }};
};

// The action's display title (also the undo name) in the running language.
std::string title(EditAction action);

}  // namespace tessoral
