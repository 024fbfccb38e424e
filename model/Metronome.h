#pragma once

#include <cstdint>
#include <vector>

namespace tessoral::Metronome {

// A metronome click of `length` frames at 48 kHz: a cosine burst of `frequency` Hz that
// starts at `level` and decays by e every 6.25 ms. Empty when length < 1.
std::vector<float> click(double frequency, float level, std::int64_t length);

}  // namespace tessoral::Metronome
