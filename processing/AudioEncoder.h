#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>

#include "model/ExportFormat.h"

namespace tessoral {

// Writes stereo 32-bit float audio into a new file in one of the export formats, through FFmpeg:
// WAV (24-bit, 16-bit, 32-bit float), AIFF (24-bit), FLAC (24-bit), ALAC (24-bit) and AAC in an
// M4A container. Integer formats take the samples rounded to the nearest step (halves away from
// zero) and saturated; samples are otherwise handed over as they are (clipping is the caller's
// choice). Two encodings of the same samples give byte-identical files.
//
// The file is created exclusively (an existing file at the path is an error) and removed again
// when the encoder is destroyed before finish() succeeded, or after it unless keepFile() was
// called, so a failed or abandoned encoding leaves nothing behind.
class AudioEncoder {
public:
    // Creates the file and writes its header. Throws PlatformError when the file cannot be created
    // or the encoder refuses the settings (for example a rate the codec does not support), and
    // StudioError when memory for the audio cannot be had.
    AudioEncoder(const std::filesystem::path& path, ExportFormat format, int sampleRate);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    // Appends `frames` frames of both channels. Throws PlatformError on an encoding or write error.
    void write(const float* left, const float* right, std::size_t frames);
    // Flushes the encoder, completes the container, syncs the file to disk and closes it.
    void finish();
    // The finished file stays where it is (call after it has been moved or when it is wanted).
    void keepFile();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessoral
