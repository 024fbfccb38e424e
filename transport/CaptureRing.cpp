#include "transport/CaptureRing.h"

#include <algorithm>
#include <cstring>

namespace tessoral {

CaptureRing::CaptureRing(int channels, std::int64_t capacityFrames, std::int64_t maxBlocks)
    : channels_(std::clamp(channels, 1, 2)),
      capacity_(std::max<std::int64_t>(capacityFrames, 1)),
      maxBlocks_(std::max<std::int64_t>(maxBlocks, 1)),
      blocks_(new Block[static_cast<std::size_t>(maxBlocks_)]) {
    for (int c = 0; c < channels_; ++c) samples_.emplace_back(new float[static_cast<std::size_t>(capacity_)]());
}

bool CaptureRing::push(const float* const* input, int inputChannels, std::int64_t frames, double time,
                       bool gap) noexcept {
    if (gap) ++gaps_;
    if (frames < 1) return true;
    if (!input || inputChannels < 1 || !input[0]) return true;
    const std::int64_t written = writtenFrames_.load(std::memory_order_relaxed);
    const std::int64_t blocks = writtenBlocks_.load(std::memory_order_relaxed);
    const std::int64_t freeFrames = capacity_ - (written - readFrames_.load(std::memory_order_acquire));
    const std::int64_t freeBlocks = maxBlocks_ - (blocks - readBlocks_.load(std::memory_order_acquire));
    if (frames > freeFrames || freeBlocks < 1) {
        overruns_.fetch_add(1, std::memory_order_relaxed);
        lostFrames_.fetch_add(frames, std::memory_order_relaxed);
        return false;
    }
    const std::int64_t at = written % capacity_;
    const std::int64_t first = std::min(frames, capacity_ - at);
    for (int c = 0; c < channels_; ++c) {
        const float* source = (c < inputChannels && input[c]) ? input[c] : input[0];
        float* ring = samples_[static_cast<std::size_t>(c)].get();
        std::memcpy(ring + at, source, static_cast<std::size_t>(first) * sizeof(float));
        std::memcpy(ring, source + first, static_cast<std::size_t>(frames - first) * sizeof(float));
    }
    blocks_[static_cast<std::size_t>(blocks % maxBlocks_)] =
        Block{frames, time, lostFrames_.load(std::memory_order_relaxed), gaps_};
    writtenFrames_.store(written + frames, std::memory_order_release);
    writtenBlocks_.store(blocks + 1, std::memory_order_release);
    return true;
}

std::optional<CaptureRing::Block> CaptureRing::pop(float* const* out) noexcept {
    const std::int64_t blocks = readBlocks_.load(std::memory_order_relaxed);
    if (blocks == writtenBlocks_.load(std::memory_order_acquire)) return std::nullopt;
    const Block block = blocks_[static_cast<std::size_t>(blocks % maxBlocks_)];
    const std::int64_t read = readFrames_.load(std::memory_order_relaxed);
    const std::int64_t at = read % capacity_;
    const std::int64_t first = std::min(block.frames, capacity_ - at);
    for (int c = 0; c < channels_; ++c) {
        const float* ring = samples_[static_cast<std::size_t>(c)].get();
        std::memcpy(out[c], ring + at, static_cast<std::size_t>(first) * sizeof(float));
        std::memcpy(out[c] + first, ring, static_cast<std::size_t>(block.frames - first) * sizeof(float));
    }
    readFrames_.store(read + block.frames, std::memory_order_release);
    readBlocks_.store(blocks + 1, std::memory_order_release);
    return block;
}

bool CaptureRing::empty() const noexcept {
    return readBlocks_.load(std::memory_order_acquire) == writtenBlocks_.load(std::memory_order_acquire);
}

}  // namespace tessoral
