#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tessoral {

// Long channels for a render to write, with their pages already mapped. A new 8-minute channel
// is 90 MB of pages the system has yet to map and clear, one fault per 4 KiB page; cleared by the
// thread that makes the vector, that is ~60 ms of a render's start spent before any effect runs.
// Here the pages are mapped first by this thread and any free worker threads together, and only
// then cleared or filled. No huge pages are asked for: on a virtual machine a 2 MiB page often
// comes from memory the host has yet to back, and then costs ~2 ms to clear where 512 small pages
// cost 0.1 ms (the first Play after opening took 0.25 s longer that way).
namespace FreshPages {

// `frames` zeros.
std::vector<float> zeroed(std::size_t frames);
// A copy of `samples`.
std::vector<float> copied(std::span<const float> samples);

}  // namespace FreshPages

}  // namespace tessoral
