#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "model/EnumTraits.h"

namespace tessoral {

// The pointer tool of the multitrack timeline.
enum class TimelineTool { move, select, razor };
// What the main window's editor area shows.
enum class EditorMode { waveform, multitrack, mixer };

template <>
struct EnumTraits<TimelineTool> {
    static constexpr std::array<std::pair<TimelineTool, std::string_view>, 3> cases{{
        {TimelineTool::move, "move"},
        {TimelineTool::select, "select"},
        {TimelineTool::razor, "razor"},
    }};
};

template <>
struct EnumTraits<EditorMode> {
    static constexpr std::array<std::pair<EditorMode, std::string_view>, 3> cases{{
        {EditorMode::waveform, "waveform"},
        {EditorMode::multitrack, "multitrack"},
        {EditorMode::mixer, "mixer"},
    }};
};

}  // namespace tessoral
