#include "transport/RecordingBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "model/VectorOps.h"

namespace tessoral {

namespace {

float peakOf(const float* samples, std::int64_t count, float peak) {
    return count > 0 ? std::max(peak, vec::maxMagnitude(samples, static_cast<std::size_t>(count))) : peak;
}

std::int64_t chunksFor(std::int64_t frames) {
    return frames <= 0 ? 0 : (frames - 1) / RecordingBuffer::kChunkFrames + 1;
}

}  // namespace

RecordingBuffer::Chunk RecordingBuffer::allocateChunk() {
    // Left uninitialised: pages are touched only as samples arrive.
    return Chunk{std::unique_ptr<float[]>(new float[kChunkFrames]), std::unique_ptr<float[]>(new float[kChunkFrames])};
}

RecordingBuffer::RecordingBuffer(std::int64_t limit) : limit_(std::max<std::int64_t>(limit, 0)) {
    const std::int64_t reserved = chunksFor(std::min(limit_, kReservedFrames));
    // The pointer list is reserved for a take of up to twice the up-front size; beyond that it
    // may grow, which copies pointers only.
    chunks_.reserve(static_cast<std::size_t>(std::min(chunksFor(limit_), 2 * reserved + 1)));
    for (std::int64_t i = 0; i < reserved; ++i) chunks_.push_back(allocateChunk());
}

void RecordingBuffer::append(const float* const* channels, int channelCount, std::int64_t frames,
                             std::int64_t dropping) {
    if (!channels || channelCount < 1 || !channels[0] || frames < 1) return;
    const std::int64_t skip = std::max<std::int64_t>(dropping, 0);
    if (skip >= frames) return;
    const float* left = channels[0] + skip;
    const float* right = (channelCount > 1 && channels[1] ? channels[1] : channels[0]) + skip;

    std::int64_t stored = 0;
    std::int64_t capacity = 0;
    {
        std::lock_guard guard(lock_);
        stored = stored_;
        capacity = static_cast<std::int64_t>(chunks_.size()) * kChunkFrames;
    }
    const std::int64_t room = limit_ - stored;
    if (room < 1) return;
    const std::int64_t n = std::min(room, frames - skip);

    // Growth happens here, outside the lock; only this thread appends, so `stored` still holds.
    std::vector<Chunk> fresh;
    for (std::int64_t have = capacity; have < stored + n; have += kChunkFrames) fresh.push_back(allocateChunk());

    std::lock_guard guard(lock_);
    for (auto& chunk : fresh) chunks_.push_back(std::move(chunk));
    for (std::int64_t done = 0; done < n;) {
        const std::int64_t at = stored_ + done;
        const Chunk& chunk = chunks_[static_cast<std::size_t>(at / kChunkFrames)];
        const std::int64_t offset = at % kChunkFrames;
        const std::int64_t count = std::min(n - done, kChunkFrames - offset);
        std::memcpy(chunk.left.get() + offset, left + done, static_cast<std::size_t>(count) * sizeof(float));
        std::memcpy(chunk.right.get() + offset, right + done, static_cast<std::size_t>(count) * sizeof(float));
        done += count;
    }
    leftPeak_ = peakOf(left, n, leftPeak_);
    rightPeak_ = peakOf(right, n, rightPeak_);
    stored_ += n;
}

std::int64_t RecordingBuffer::frames() const {
    std::lock_guard guard(lock_);
    return stored_;
}

RecordingBuffer::Peaks RecordingBuffer::takePeaks(float decay) {
    std::lock_guard guard(lock_);
    const Peaks peaks{leftPeak_, rightPeak_};
    leftPeak_ *= decay;
    rightPeak_ *= decay;
    return peaks;
}

std::optional<AudioData> RecordingBuffer::makeAudio() const {
    // Frames below `stored` never change and chunks never move: the copy runs outside the lock.
    std::vector<const float*> lefts, rights;
    std::int64_t stored = 0;
    {
        std::lock_guard guard(lock_);
        stored = stored_;
        if (stored < 1) return std::nullopt;
        for (std::int64_t i = 0; i < chunksFor(stored); ++i) {
            lefts.push_back(chunks_[static_cast<std::size_t>(i)].left.get());
            rights.push_back(chunks_[static_cast<std::size_t>(i)].right.get());
        }
    }
    std::vector<float> left(static_cast<std::size_t>(stored)), right(static_cast<std::size_t>(stored));
    for (std::size_t i = 0; i < lefts.size(); ++i) {
        const std::int64_t from = static_cast<std::int64_t>(i) * kChunkFrames;
        const auto count = static_cast<std::size_t>(std::min(kChunkFrames, stored - from));
        std::memcpy(left.data() + from, lefts[i], count * sizeof(float));
        std::memcpy(right.data() + from, rights[i], count * sizeof(float));
    }
    return AudioData(std::move(left), std::move(right));
}

}  // namespace tessoral
