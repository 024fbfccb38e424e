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
    const std::size_t capacity = queueGain_.size();
    for (std::size_t i = 0; i < frames; ++i) {
        const float xl = left[i], xr = right[i];
        const double peak = std::max(std::fabs(xl), std::fabs(xr));
        const double required = peak > 1.0 ? 1.0 / peak : 1.0;

        // Sliding minimum over the last L + 1 required gains.
        while (count_ > 0 && queueGain_[(head_ + count_ - 1) % capacity] >= required) --count_;
        queueGain_[(head_ + count_) % capacity] = required;
        queueFrame_[(head_ + count_) % capacity] = frame_;
        ++count_;
        while (queueFrame_[head_] + window_ <= frame_) {
            head_ = (head_ + 1) % capacity;
            --count_;
        }
        const double minimum = queueGain_[head_];

        const double recovered = 1.0 - (1.0 - held_) * decayCoeff_;
        held_ = std::min(minimum, recovered);

        curveSum_ += held_ - curve_[position_];
        curve_[position_] = held_;
        const double gain = std::min(1.0, curveSum_ / static_cast<double>(window_));

        // The delay line holds the last L + 1 inputs; the oldest is L frames old.
        delayLeft_[position_] = xl;
        delayRight_[position_] = xr;
        const std::size_t oldest = position_ + 1 == window_ ? 0 : position_ + 1;
        const double yl = delayLeft_[oldest] * gain;
        const double yr = delayRight_[oldest] * gain;
        left[i] = static_cast<float>(clampTo(yl, -1.0, 1.0));
        right[i] = static_cast<float>(clampTo(yr, -1.0, 1.0));
        position_ = oldest;
        ++frame_;
        // Refresh the running sum now and then so rounding cannot drift.
        if (position_ == 0) {
            double sum = 0.0;
            for (double v : curve_) sum += v;
            curveSum_ = sum;
        }
    }
}

}  // namespace tessoral
