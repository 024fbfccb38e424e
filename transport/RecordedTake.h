#pragma once

#include <cstdint>

#include "model/AudioData.h"

namespace tessoral {

// A finished recording: what was captured, and how much input was lost on the way because the
// capture could not keep up with the device (48 kHz frames; the take is that much shorter than
// the time recorded, its gaps closed up).
struct RecordedTake {
    AudioData audio;
    std::int64_t lostFrames = 0;
    // The input or the overdub device reported a dropout while the take ran: the take may be
    // out of time with what was heard.
    bool deviceGaps = false;
    // The input stopped delivering (its sound server stopped or went away): the take ends there.
    bool serverLost = false;
};

}  // namespace tessoral
