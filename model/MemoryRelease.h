#pragma once

namespace tessoral::MemoryRelease {

// The allocator's policy for the whole program, set at start-up before the worker threads start:
// blocks of a mebibyte or more (clip audio, mixes, rack results) are mapped on their own and go
// back to the system as soon as they are freed, whichever thread allocated them. Without it the C
// library keeps such blocks in the pools of the threads that allocated them, and the resident set
// climbs with every project opened on a different worker.
void configure();

// Gives back to the system the free memory the allocator still holds (its pools' free pages).
// Called after a large release: a project replaced or closed, an export ended.
void giveBack();

}  // namespace tessoral::MemoryRelease
