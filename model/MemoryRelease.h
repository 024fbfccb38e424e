#pragma once

namespace tessoral::MemoryRelease {

// The allocator's policy for the whole program, set at start-up before the worker threads start:
// blocks of a mebibyte or more (clip audio, mixes, rack results) are mapped on their own and go
// back to the system as soon as they are freed, whichever thread allocated them. Without it the C
// library raises its threshold after each large free and keeps audio-sized blocks in the pools of
// the threads that allocated them: the resident set climbed with every project opened, closed and
// exported. (A trim after each of those gave the same figures; the policy also covers what is
// freed anywhere else, such as undo steps dropped.)
void configure();

}  // namespace tessoral::MemoryRelease
