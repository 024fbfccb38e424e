#pragma once

#include <cstddef>
#include <vector>

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

// n zeros. A large block's memory is asked for in huge pages where the system grants them on
// request: writing it first then faults once for every 2 MB rather than for every 4 KB, which on a
// virtual machine can take longer than the work written.
std::vector<float> zeros(std::size_t n);

}  // namespace tessoral::vec
