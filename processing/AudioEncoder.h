#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "model/ExportFormat.h"
#include "model/StudioError.h"

namespace tessoral {

// An audio file that could not be written: the message without the file's name, and the reason
// alone (the system's or the encoder's), for a caller that knows which file it was.
class AudioWriteError : public PlatformError {
public:
    explicit AudioWriteError(const std::string& reason);
    const std::string& reason() const noexcept { return reason_; }

private:
    std::string reason_;
};

// Writes stereo 32-bit float audio into a new file in one of the export formats, through FFmpeg:
// WAV (24-bit, 16-bit, 32-bit float), AIFF (24-bit), FLAC (24-bit), ALAC (24-bit) and AAC in an
// M4A container. Integer formats take the samples rounded to the nearest step (halves away from
// zero) and saturated; samples are otherwise handed over as they are (clipping is the caller's
// choice). Two encodings of the same samples give byte-identical files.
//
// The encoder writes into a descriptor that stays the caller's: it seeks in it (containers
// complete their headers last) but never syncs or closes it; the atomic file writer gives it
// the temporary file.
class AudioEncoder {
public:
    // Writes the header into `fd`, an empty file open for writing. Throws AudioWriteError when it
    // cannot be written or the encoder refuses the settings (for example a rate the codec does not
    // support), and StudioError when memory for the audio cannot be had.
    AudioEncoder(int fd, ExportFormat format, int sampleRate);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    // Receives what a player decodes from the file, in order, as the encoder produces it.
    using DecodedSink = std::function<void(const float* left, const float* right, std::size_t frames)>;

    // Decodes every packet as it is written, on a thread of its own, with the decoder and
    // settings a player uses, and hands the signal to `sink` on that thread: the encoder's
    // priming left out and the end cut where the file's edit list cuts it, so the sink sees
    // exactly what decoding the finished file gives. Call before the first write(). A sink
    // that throws fails the next write() or finish() with its exception.
    void decodeAlongside(DecodedSink sink);

    // Appends `frames` frames of both channels. Throws AudioWriteError on an encoding or write error.
    void write(const float* left, const float* right, std::size_t frames);
    // Flushes the encoder and completes the container.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessoral
