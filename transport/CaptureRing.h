#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tessoral {

// Carries captured input from the real-time input callback to the capture thread: one producer,
// one consumer, no locks, everything allocated up front. Each pushed buffer keeps its frame count
// and its capture time. A buffer that does not fit is dropped whole and counted.
class CaptureRing {
public:
    // `channels` (1 or 2) sample rings of `capacityFrames` frames and room for `maxBlocks` buffers.
    CaptureRing(int channels, std::int64_t capacityFrames, std::int64_t maxBlocks = 1024);
    CaptureRing(const CaptureRing&) = delete;
    CaptureRing& operator=(const CaptureRing&) = delete;

    int channels() const { return channels_; }
    std::int64_t capacityFrames() const { return capacity_; }

    // Real-time thread: copies the first channels() input channels (channel 0 again for a missing
    // one). False when the buffer was dropped for want of room. Never waits or allocates.
    // `gap`: the device reported input dropped or padded before this buffer.
    bool push(const float* const* input, int inputChannels, std::int64_t frames, double time,
              bool gap = false) noexcept;

    struct Block {
        std::int64_t frames = 0;
        double time = 0.0;
        std::int64_t lostBefore = 0;  // frames dropped before this buffer was pushed
        std::int64_t gapsBefore = 0;  // gaps the device reported up to this buffer, its own included
    };
    // Capture thread: copies the oldest buffer into `out` (channels() arrays of at least
    // capacityFrames() frames) and frees its room; none when the ring is empty.
    std::optional<Block> pop(float* const* out) noexcept;

    bool empty() const noexcept;
    // Buffers dropped because the capture thread fell behind, and their frames.
    std::int64_t overruns() const noexcept { return overruns_.load(std::memory_order_relaxed); }
    std::int64_t lostFrames() const noexcept { return lostFrames_.load(std::memory_order_relaxed); }

private:
    const int channels_;
    const std::int64_t capacity_;
    const std::int64_t maxBlocks_;
    std::vector<std::unique_ptr<float[]>> samples_;
    std::unique_ptr<Block[]> blocks_;
    // Running totals: written frames and blocks by the producer, read ones by the consumer.
    std::atomic<std::int64_t> writtenFrames_{0};
    std::atomic<std::int64_t> readFrames_{0};
    std::atomic<std::int64_t> writtenBlocks_{0};
    std::atomic<std::int64_t> readBlocks_{0};
    std::atomic<std::int64_t> overruns_{0};
    std::atomic<std::int64_t> lostFrames_{0};
    std::int64_t gaps_ = 0;  // producer only

    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
};

}  // namespace tessoral
