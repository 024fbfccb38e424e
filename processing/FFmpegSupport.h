#pragma once

#include <cstddef>
#include <string>

namespace tessoral::ffmpeg {

// Sets FFmpeg up for the whole process before its first use: its own logging off (it would write
// to stderr), and no single allocation larger than kMaxAllocation. Safe to call from any thread,
// any number of times.
void setUp();

// FFmpeg allocates what a file's header declares: a damaged 5 KB WAV whose LIST chunk claims 2 GB
// made it allocate and clear 2 GB before it gave up. No real audio needs one buffer near this:
// FFmpeg works in packets and frames, and encoding and decoding 8 minutes of stereo in every
// export and import format passes with a bound of 8 MiB (the FLAC encoder's context needs over
// 6 MiB, AAC about 2 MiB, PCM, MP3 and Vorbis under 256 KiB); a picture in a FLAC file's header
// holds at most 16 MiB. A larger request fails with AVERROR(ENOMEM). Larger metadata of a valid
// file is never read: the decoder hides a WAV file's chunks other than its sound and an MP4
// file's cover from the demuxer, and FFmpeg skips an ID3v2 picture it cannot allocate.
inline constexpr std::size_t kMaxAllocation = std::size_t{64} << 20;

// The library's text for an AVERROR code ("Invalid data found when processing input").
std::string errorText(int code);
// The same for a person's eyes: a code without a text of the program's own (the library's text is
// English, and a codec's private codes have none) reads as `otherwise`.
std::string errorText(int code, const std::string& otherwise);

}  // namespace tessoral::ffmpeg
