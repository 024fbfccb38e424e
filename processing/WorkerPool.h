#pragma once

#include <functional>

namespace tessoral {

// A fixed set of threads for the processing layer's parallel work, one per core, started on first
// use and kept for the life of the process. Jobs run in the order they were posted; a job must
// not throw and must not wait for a job posted after it.
namespace WorkerPool {

void post(std::function<void()> job);
// How many threads the pool runs.
unsigned size();

}  // namespace WorkerPool

}  // namespace tessoral
