#pragma once

#include <string>

namespace tessoral::ffmpeg {

// Turns FFmpeg's own logging off for the whole process (it would write to stderr).
// Safe to call from any thread, any number of times.
void silenceLog();

// The library's text for an AVERROR code ("Invalid data found when processing input").
std::string errorText(int code);

}  // namespace tessoral::ffmpeg
