#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "model/BeatGrid.h"
#include "model/EnumTraits.h"

namespace tessoral {

// The four ways the editor shows a time; the raw value is the stored user setting
// ("timeFormat"). Declaration order is the order the next-format command cycles through.
enum class TimeFormat { clock, seconds, samples, bars };

template <>
struct EnumTraits<TimeFormat> {
    static constexpr std::array<std::pair<TimeFormat, std::string_view>, 4> cases{{
        {TimeFormat::clock, "clock"},
        {TimeFormat::seconds, "seconds"},
        {TimeFormat::samples, "samples"},
        {TimeFormat::bars, "bars"},
    }};
};

// The localised display title of a format.
std::string title(TimeFormat format);

// Time texts. A negative or non-finite time counts as 0 (the seconds ruler label keeps
// +∞, see rulerLabel); counts beyond the 64-bit range saturate.
namespace TimeFormatter {

// clock "mm:ss.mmm" (minutes unwrapped), seconds "s.mmm", samples (frame number),
// bars "bar:beat.hundredths" counted from 1.
std::string format(double t, TimeFormat format, const BeatGrid& grid);
// A length: seconds with its unit, bars counted from 0; clock and samples as format().
std::string duration(double t, TimeFormat format, const BeatGrid& grid);
// The label of a ruler tick, shortened to what the step between ticks needs.
std::string rulerLabel(double t, double step, TimeFormat format, const BeatGrid& grid);

}  // namespace TimeFormatter

}  // namespace tessoral
