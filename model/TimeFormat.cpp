#include "model/TimeFormat.h"

#include <cmath>
#include <cstdint>

#include "model/Frames.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"

namespace tessoral {

std::string title(TimeFormat format) {
    switch (format) {
        case TimeFormat::clock: return L("мм:сс.мс");
        case TimeFormat::seconds: return L("Секунды");
        case TimeFormat::samples: return L("Сэмплы");
        case TimeFormat::bars: return L("Такты и доли");
    }
    return {};
}

namespace {

// A time the texts accept: negative and non-finite values count as 0.
double displayable(double t) { return (std::isfinite(t) && t > 0.0) ? t : 0.0; }

std::int64_t milliseconds(double t) { return roundSaturating(t * 1000.0); }

// Hundredths of a beat and whole beats of a time; the integer arithmetic is C's
// (division truncates toward zero) should a negative tempo make them negative.
struct BeatCount {
    std::int64_t hundredths;
    std::int64_t beats;
};

BeatCount beatCount(double t, const BeatGrid& grid) {
    const std::int64_t h = roundSaturating(t / grid.beatSeconds() * 100.0);
    return {h, h / 100};
}

std::string barsText(double t, const BeatGrid& grid, std::int64_t origin) {
    const BeatCount c = beatCount(t, grid);
    const std::int64_t perBar = grid.barBeats();
    return num::integer(c.beats / perBar + origin) + ":" + num::integer(c.beats % perBar + origin) + "." +
           num::padded(c.hundredths % 100, 2);
}

}  // namespace

namespace TimeFormatter {

std::string format(double t, TimeFormat format, const BeatGrid& grid) {
    t = displayable(t);
    switch (format) {
        case TimeFormat::clock: {
            const std::int64_t ms = milliseconds(t);
            return num::padded(ms / 60000, 2) + ":" + num::padded((ms / 1000) % 60, 2) + "." +
                   num::padded(ms % 1000, 3);
        }
        case TimeFormat::seconds: {
            const std::int64_t ms = milliseconds(t);
            return num::integer(ms / 1000) + "." + num::padded(ms % 1000, 3);
        }
        case TimeFormat::samples: return num::integer(secondsToFrames(t));
        case TimeFormat::bars: return barsText(t, grid, 1);
    }
    return {};
}

std::string duration(double t, TimeFormat format, const BeatGrid& grid) {
    switch (format) {
        case TimeFormat::seconds: return L("{0} с", TimeFormatter::format(t, TimeFormat::seconds, grid));
        case TimeFormat::bars: return barsText(displayable(t), grid, 0);
        case TimeFormat::clock:
        case TimeFormat::samples: return TimeFormatter::format(t, format, grid);
    }
    return {};
}

std::string rulerLabel(double t, double step, TimeFormat format, const BeatGrid& grid) {
    switch (format) {
        case TimeFormat::clock:
        case TimeFormat::samples: return TimeFormatter::format(t, format, grid);
        case TimeFormat::seconds: {
            const int decimals = step >= 1.0 ? 0 : (step >= 0.1 ? 1 : 2);
            return num::fixed(t >= 0.0 ? t : 0.0, decimals);
        }
        case TimeFormat::bars: {
            std::string full = TimeFormatter::format(t, TimeFormat::bars, grid);
            const double beat = grid.beatSeconds();
            if (step < beat - 0.000000001) return full;
            const std::string barBeat = full.substr(0, full.find('.'));
            const auto colon = barBeat.find(':');
            const std::string bar = barBeat.substr(0, colon);
            const std::string beatText = colon == std::string::npos ? std::string() : barBeat.substr(colon + 1);
            if (step >= beat * static_cast<double>(grid.barBeats()) - 0.000000001 && beatText == "1") return bar;
            return bar + "." + beatText;
        }
    }
    return {};
}

}  // namespace TimeFormatter

}  // namespace tessoral
