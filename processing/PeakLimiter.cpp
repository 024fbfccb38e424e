#include "processing/PeakLimiter.h"

#include <algorithm>
#include <cmath>

#include "model/Frames.h"

namespace tessoral {

PeakLimiter::PeakLimiter() { reset(); }

void PeakLimiter::setParameter(Parameter id, float value) {
    if (!std::isfinite(value)) return;
    switch (id) {
        case Parameter::attackTime:
            attack_ = clampTo(value, 0.0005f, 0.05f);
            reset();
            break;
        case Parameter::decayTime:
            decay_ = clampTo(value, 0.001f, 10.0f);
            decayCoeff_ = std::exp(-1.0 / (static_cast<double>(decay_) * kSampleRate));
            break;
    }
}

float PeakLimiter::parameter(Parameter id) const {
    return id == Parameter::attackTime ? attack_ : decay_;
}

void PeakLimiter::reset() {
    decayCoeff_ = std::exp(-1.0 / (static_cast<double>(decay_) * kSampleRate));
    lookahead_ = static_cast<std::size_t>(std::max<std::int64_t>(1, secondsToFrames(attack_)));
    window_ = lookahead_ + 1;
    delayLeft_.assign(window_, 0.0f);
    delayRight_.assign(window_, 0.0f);
    curve_.assign(window_, 1.0);
    curveSum_ = static_cast<double>(window_);
    queueGain_.assign(window_ + 1, 1.0);
    queueFrame_.assign(window_ + 1, 0);
    position_ = 0;
    held_ = 1.0;
    head_ = 0;
    count_ = 0;
    frame_ = 0;
}

void PeakLimiter::process(float* left, float* right, std::size_t frames) noexcept {
    frames = std::min(frames, kMaxFrames);
    // The three steps a render on several threads takes apart, one after another on one slice.
    double* const sums = sums_.data();
    required(left, right, sums, frames);
    track(sums, left, right, frames);
    release(sums, left, right, left, right, frames);
}

void PeakLimiter::required(const float* left, const float* right, double* gains, std::size_t frames) noexcept {
    for (std::size_t i = 0; i < frames; ++i) {
        const double peak = std::max(std::fabs(left[i]), std::fabs(right[i]));
        gains[i] = peak > 1.0 ? 1.0 / peak : 1.0;
    }
}

void PeakLimiter::track(double* gains, float* left, float* right, std::size_t frames) noexcept {
    // The loop of process() without the output's arithmetic.
    const std::size_t capacity = queueGain_.size();
    const std::size_t window = window_;
    const double decayCoeff = decayCoeff_;
    double* const queueGain = queueGain_.data();
    unsigned long long* const queueFrame = queueFrame_.data();
    double* const curve = curve_.data();
    float* const delayLeft = delayLeft_.data();
    float* const delayRight = delayRight_.data();
    std::size_t head = head_, count = count_, position = position_;
    unsigned long long frame = frame_;
    double held = held_, curveSum = curveSum_;
    const auto wrap = [capacity](std::size_t index) { return index >= capacity ? index - capacity : index; };
    for (std::size_t i = 0; i < frames; ++i) {
        const double required = gains[i];
        while (count > 0 && queueGain[wrap(head + count - 1)] >= required) --count;
        const std::size_t tail = wrap(head + count);
        queueGain[tail] = required;
        queueFrame[tail] = frame;
        ++count;
        while (queueFrame[head] + window <= frame) {
            head = wrap(head + 1);
            --count;
        }
        const double minimum = queueGain[head];
        const double recovered = 1.0 - (1.0 - held) * decayCoeff;
        held = std::min(minimum, recovered);
        curveSum += held - curve[position];
        curve[position] = held;
        gains[i] = curveSum;

        delayLeft[position] = left[i];
        delayRight[position] = right[i];
        const std::size_t oldest = position + 1 == window ? 0 : position + 1;
        left[i] = delayLeft[oldest];
        right[i] = delayRight[oldest];
        position = oldest;
        ++frame;
        if (position == 0) {
            double sum = 0.0;
            for (std::size_t k = 0; k < window; ++k) sum += curve[k];
            curveSum = sum;
        }
    }
    head_ = head;
    count_ = count;
    position_ = position;
    frame_ = frame;
    held_ = held;
    curveSum_ = curveSum;
}

void PeakLimiter::release(const double* sums, const float* delayedLeft, const float* delayedRight, float* outLeft,
                          float* outRight, std::size_t frames) const noexcept {
    const auto window = static_cast<double>(window_);
    for (std::size_t i = 0; i < frames; ++i) {
        const double gain = std::min(1.0, sums[i] / window);
        const double yl = delayedLeft[i] * gain;
        const double yr = delayedRight[i] * gain;
        outLeft[i] = static_cast<float>(clampTo(yl, -1.0, 1.0));
        outRight[i] = static_cast<float>(clampTo(yr, -1.0, 1.0));
    }
}

}  // namespace tessoral
