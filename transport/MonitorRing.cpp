#include "transport/MonitorRing.h"

#include <algorithm>
#include <thread>

namespace tessoral {

MonitorRing::MonitorRing(std::int64_t capacity)
    : capacity_(std::max<std::int64_t>(capacity, 1)),
      left_(new float[static_cast<std::size_t>(capacity_)]()),
      right_(new float[static_cast<std::size_t>(capacity_)]()) {}

void MonitorRing::lock() const noexcept {
    while (busy_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}

bool MonitorRing::try_lock() const noexcept { return !busy_.test_and_set(std::memory_order_acquire); }

void MonitorRing::unlock() const noexcept { busy_.clear(std::memory_order_release); }

void MonitorRing::write(const float* left, const float* right, std::int64_t count) noexcept {
    if (count < 1 || !left) return;
    if (!right) right = left;
    const std::int64_t n = std::min(capacity_, count);
    left += count - n;  // only the newest frames
    right += count - n;
    lock();
    if (stored_ + n > capacity_) {
        const std::int64_t discard = stored_ + n - capacity_;
        head_ = (head_ + discard) % capacity_;
        stored_ -= discard;
    }
    std::int64_t at = (head_ + stored_) % capacity_;
    for (std::int64_t i = 0; i < n; ++i) {
        left_[static_cast<std::size_t>(at)] = left[i];
        right_[static_cast<std::size_t>(at)] = right[i];
        if (++at == capacity_) at = 0;
    }
    stored_ += n;
    unlock();
}

std::int64_t MonitorRing::read(float* left, float* right, std::int64_t frames, float gain) noexcept {
    if (!left || frames < 1) return 0;
    if (!try_lock()) {
        std::fill(left, left + frames, 0.0f);
        if (right) std::fill(right, right + frames, 0.0f);
        return 0;
    }
    const std::int64_t n = std::min(stored_, frames);
    for (std::int64_t i = 0; i < n; ++i) {
        left[i] = left_[static_cast<std::size_t>(head_)] * gain;
        if (right) right[i] = right_[static_cast<std::size_t>(head_)] * gain;
        if (++head_ == capacity_) head_ = 0;
    }
    stored_ -= n;
    unlock();
    std::fill(left + n, left + frames, 0.0f);
    if (right) std::fill(right + n, right + frames, 0.0f);
    return n;
}

std::int64_t MonitorRing::stored() const noexcept {
    lock();
    const std::int64_t n = stored_;
    unlock();
    return n;
}

}  // namespace tessoral
