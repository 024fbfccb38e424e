#include "model/Metronome.h"

#include <cmath>
#include <numbers>

#include "model/Frames.h"

namespace tessoral::Metronome {

std::vector<float> click(double frequency, float level, std::int64_t length) {
    if (length < 1) return {};
    std::vector<float> out(static_cast<std::size_t>(length));
    for (std::int64_t i = 0; i < length; ++i) {
        const double x = static_cast<double>(i);
        const double tone = std::cos(2.0 * std::numbers::pi * frequency * x / kSampleRate);
        const double decay = std::exp(-160.0 * x / kSampleRate);
        out[static_cast<std::size_t>(i)] = level * static_cast<float>(tone * decay);
    }
    return out;
}

}  // namespace tessoral::Metronome
