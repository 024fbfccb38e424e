#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace tessoral {

// The newest captured frames on their way to the monitor output: a fixed ring of two channels
// allocated once. The capture thread writes under the ring's lock (waiting for it); the real-time
// monitor callback only tries the lock and plays silence for a cycle in which it is busy, so the
// frames stay for the next cycle.
class MonitorRing {
public:
    // 200 ms at 48 kHz, which bounds the monitoring delay.
    static constexpr std::int64_t kDefaultCapacity = 9600;

    // A capacity below 1 counts as 1.
    explicit MonitorRing(std::int64_t capacity = kDefaultCapacity);
    MonitorRing(const MonitorRing&) = delete;
    MonitorRing& operator=(const MonitorRing&) = delete;

    std::int64_t capacity() const { return capacity_; }

    // Capture thread: keeps the newest min(capacity, count) frames, discarding the oldest stored
    // frames when the ring would overflow. Nothing for count < 1.
    void write(const float* left, const float* right, std::int64_t count) noexcept;

    // Real-time thread: fills `frames` frames of both outputs, each sample times `gain`, with as
    // many stored frames as there are (oldest first) and silence after them. When the lock is
    // busy the whole output is silence and nothing is taken. Returns the frames taken. Never
    // waits or allocates.
    std::int64_t read(float* left, float* right, std::int64_t frames, float gain) noexcept;

    // Frames waiting (takes the lock).
    std::int64_t stored() const noexcept;

    // The lock, usable as a BasicLockable (the writer's side; tests hold it to stand in for a
    // busy writer).
    void lock() const noexcept;
    bool try_lock() const noexcept;
    void unlock() const noexcept;

private:
    const std::int64_t capacity_;
    std::unique_ptr<float[]> left_;
    std::unique_ptr<float[]> right_;
    std::int64_t head_ = 0;    // under the lock
    std::int64_t stored_ = 0;  // under the lock
    mutable std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
};

}  // namespace tessoral
