#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "model/EnumTraits.h"

namespace tessoral {

// What loudness normalisation aims for; the raw value is the stored form (export defaults).
enum class LoudnessTarget { none, peak, streaming, podcast, ebu, atsc };

template <>
struct EnumTraits<LoudnessTarget> {
    static constexpr std::array<std::pair<LoudnessTarget, std::string_view>, 6> cases{{
        {LoudnessTarget::none, "none"},
        {LoudnessTarget::peak, "peak"},
        {LoudnessTarget::streaming, "streaming"},
        {LoudnessTarget::podcast, "podcast"},
        {LoudnessTarget::ebu, "ebu"},
        {LoudnessTarget::atsc, "atsc"},
    }};
};

// The menu title ("Стриминг −14 LUFS", …); the broadcast standards' titles are not translated.
std::string title(LoudnessTarget target);

// The integrated loudness aimed for, in LUFS; none for `none` and `peak`.
std::optional<double> targetLUFS(LoudnessTarget target);

// The true-peak ceiling in dBTP that goes with a LUFS target (−2 for `atsc`, −1 for the
// others); none for `none` and `peak`.
std::optional<double> truePeakCeiling(LoudnessTarget target);

}  // namespace tessoral
