#include "processing/DelayUnit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "model/Frames.h"

namespace tessoral {

DelayUnit::DelayUnit()
    : lineLeft_(static_cast<std::size_t>(kMaxDelayTime * kSampleRate), 0.0f),
      lineRight_(static_cast<std::size_t>(kMaxDelayTime * kSampleRate), 0.0f) {
    setDelayTime(time_);
    setLowPassCutoff(cutoff_);
}

void DelayUnit::setDelayTime(double seconds) {
    if (!std::isfinite(seconds)) return;
    time_ = seconds;
    const std::int64_t frames = secondsToFrames(clampTo(seconds, 0.0, kMaxDelayTime));
    delay_ = static_cast<std::size_t>(clampTo<std::int64_t>(frames, 1, static_cast<std::int64_t>(lineLeft_.size())));
    if (position_ >= delay_) position_ = 0;
}

void DelayUnit::setFeedback(float percent) {
    if (std::isfinite(percent)) feedbackPercent_ = percent;
}

void DelayUnit::setWetDryMix(float percent) {
    if (std::isfinite(percent)) mixPercent_ = percent;
}

void DelayUnit::setLowPassCutoff(float hz) {
    if (!std::isfinite(hz)) return;
    cutoff_ = hz;
    const double f = clampTo(static_cast<double>(hz), 10.0, 24000.0);
    pole_ = std::exp(-2.0 * std::numbers::pi * f / kSampleRate);
}

void DelayUnit::process(float* left, float* right, std::size_t frames) noexcept {
    frames = std::min(frames, kMaxFrames);
    const double feedback = clampTo(static_cast<double>(feedbackPercent_) / 100.0, -0.99, 0.99);
    const double mix = clampTo(static_cast<double>(mixPercent_) / 100.0, 0.0, 1.0);
    const double dry = 1.0 - mix;
    const double c = pole_;
    double sl = stateLeft_, sr = stateRight_;
    std::size_t p = position_;
    float* bl = lineLeft_.data();
    float* br = lineRight_.data();
    for (std::size_t i = 0; i < frames; ++i) {
        sl = (1.0 - c) * bl[p] + c * sl;
        sr = (1.0 - c) * br[p] + c * sr;
        const double xl = left[i], xr = right[i];
        bl[p] = static_cast<float>(xl + feedback * sl);
        br[p] = static_cast<float>(xr + feedback * sr);
        if (++p == delay_) p = 0;
        left[i] = static_cast<float>(dry * xl + mix * sl);
        right[i] = static_cast<float>(dry * xr + mix * sr);
    }
    stateLeft_ = sl;
    stateRight_ = sr;
    position_ = p;
}

}  // namespace tessoral
