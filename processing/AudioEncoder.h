#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "model/ExportFormat.h"
#include "model/StudioError.h"

struct AVCodecContext;
struct AVPacket;

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

    // Receives decoded audio in order.
    using DecodedSink = std::function<void(const float* left, const float* right, std::size_t frames)>;

    // Appends `frames` frames of both channels. Throws AudioWriteError on an encoding or write error.
    void write(const float* left, const float* right, std::size_t frames);
    // Appends a packet that another encoder opened by openEncoder() with the same settings made,
    // its times in samples; a file is written either by write() or by this alone.
    void writeEncoded(const AVPacket& packet);
    // Flushes the encoder and completes the container.
    void finish();

    // An encoder of `format` at `sampleRate`, set up as every file of that format is written;
    // `globalHeader` when its container keeps the codec's header (MP4). The caller frees it.
    // Throws as the constructor does.
    static AVCodecContext* openEncoder(ExportFormat format, int sampleRate, bool globalHeader);
    // The length a file of `frames` frames states, its encoder priming `padding` frames: the MP4
    // edit list counts whole milliseconds, and a player ends the signal there.
    static std::int64_t statedLength(ExportFormat format, int sampleRate, std::int64_t frames, int padding);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessoral
