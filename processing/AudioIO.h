#pragma once

#include <cstdint>
#include <filesystem>

#include "model/AudioData.h"

namespace tessoral::AudioIO {

// Capacity of the decoder's working blocks, in frames.
inline constexpr std::int64_t kDecodeBlock = 8192;
// Decoding stops with an error once more than this has been produced (the clip limit plus a block).
inline constexpr std::int64_t kDecodeAbortFrames = 23'040'000 + kDecodeBlock;

// Decodes an audio file (any format FFmpeg reads) into 48 kHz stereo of 1 … 23,040,000 frames.
// A mono file gives the same samples on both channels. Throws StudioError with a finished
// message for files outside the limits, and PlatformError (a localised lead-in with the
// library's detail) when the file cannot be opened or read. Damage inside the stream is refused;
// what follows the last whole frame (a tag, stray bytes, zeros, a partial last frame) is not
// damage, and the whole frames before it are the file's sound.
AudioData read(const std::filesystem::path& path);
// The same with the codec allowed up to `decoderThreads` threads for its frames: FLAC in its own
// files and ALAC in MP4 use them (read(path) gives them up to four), everything else decodes on
// one. A damaged frame is refused whatever the count.
AudioData read(const std::filesystem::path& path, int decoderThreads);
// read(path), and the rate of the file's own stream (as it states it) in `sourceRate`: the one
// opening of the file tells both.
AudioData readWithSourceRate(const std::filesystem::path& path, int& sourceRate);

// The same decoding without the conversion to 48 kHz: the frames keep the stream's own rate,
// which is stored in `sampleRate` (the first stream rate when it changes midway).
AudioData readAtOwnRate(const std::filesystem::path& path, int& sampleRate);

// The codec threads that the last decoding on the calling thread decoded its frames on: 1 where
// the codec ran on one thread, 0 before any decoding on this thread. What import gained from
// parallel decoding can be seen from it.
int lastDecoderThreads();

// How many samples the last decoding on the calling thread found that were not numbers (NaN or
// an infinity, in a float file): each became silence.
std::int64_t lastSilencedSamples();

// Whether the file that the last decoding on the calling thread read ends before the length it
// states (a copy or download cut short): its whole frames were imported.
bool lastEndedEarly();

// How many bytes of the file the last decoding on the calling thread read (each byte read twice
// counts twice): a few times the file's size at most, whatever it holds.
std::int64_t lastBytesRead();

}  // namespace tessoral::AudioIO
