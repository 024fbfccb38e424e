#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "model/AudioData.h"

namespace tessoral {

// The captured take at 48 kHz, shared between the capture thread (which appends) and the main
// thread (which reads the length and levels, and collects the audio at the end).
//
// Samples are kept in fixed chunks that never move: growing allocates a fresh chunk outside the
// lock and only adds its pointer under it, so a long take is never copied while the lock is held.
// Chunks for the first two minutes (or the whole limit when shorter) are allocated up front.
class RecordingBuffer {
public:
    // Frames per chunk (about 5.5 s, 1 MiB per channel).
    static constexpr std::int64_t kChunkFrames = std::int64_t{1} << 18;
    // Frames allocated up front at most: 120 s.
    static constexpr std::int64_t kReservedFrames = 5'760'000;

    // A negative limit counts as 0 (nothing is ever kept).
    explicit RecordingBuffer(std::int64_t limit);
    RecordingBuffer(const RecordingBuffer&) = delete;
    RecordingBuffer& operator=(const RecordingBuffer&) = delete;

    // Appends `frames` frames of one or two channels, leaving out the first `dropping` (a
    // negative count drops nothing); a one-channel buffer goes to both sides. Frames beyond the
    // limit are dropped silently. Raises the running peaks to the largest magnitude appended.
    // One thread appends at a time.
    void append(const float* const* channels, int channelCount, std::int64_t frames, std::int64_t dropping);

    std::int64_t limit() const { return limit_; }
    // Frames kept so far.
    std::int64_t frames() const;

    struct Peaks {
        float left = 0.0f;
        float right = 0.0f;
    };
    // The running peaks; the stored values are then multiplied by `decay`.
    Peaks takePeaks(float decay);

    // Both channels of everything kept; none when nothing was.
    std::optional<AudioData> makeAudio() const;

private:
    struct Chunk {
        std::unique_ptr<float[]> left;
        std::unique_ptr<float[]> right;
    };
    static Chunk allocateChunk();

    const std::int64_t limit_;
    mutable std::mutex lock_;
    std::vector<Chunk> chunks_;  // under lock_; a chunk never moves once added
    std::int64_t stored_ = 0;    // under lock_
    float leftPeak_ = 0.0f;      // under lock_
    float rightPeak_ = 0.0f;     // under lock_
};

}  // namespace tessoral
