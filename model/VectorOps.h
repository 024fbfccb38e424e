#pragma once

#include <cstddef>

// Reductions over sample blocks, vectorised where the processor allows.
namespace tessoral::vec {

// max |x| over n samples; 0 for n = 0.
float maxMagnitude(const float* x, std::size_t n);

struct MinMax {
    float min;
    float max;
};
// Smallest and largest sample (signed); {0, 0} for n = 0.
MinMax minMax(const float* x, std::size_t n);

}  // namespace tessoral::vec
