#pragma once

#include <cstdint>
#include <cstdlib>

namespace tessoral::bench {

// Under ./test.sh the benchmarks run once on tiny input as a smoke test.
inline bool smoke() { return std::getenv("TESSORAL_BENCH_SMOKE") != nullptr; }

// Frames of the full-size input (8 minutes at 48 kHz), or a few thousand in smoke mode.
inline std::int64_t frames() { return smoke() ? 48'000 : 23'040'000; }

}  // namespace tessoral::bench
