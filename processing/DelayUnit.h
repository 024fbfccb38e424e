#pragma once

#include <cstddef>
#include <vector>

#include "processing/EffectUnit.h"

namespace tessoral {

// The delay unit: a feedback echo per channel with a low-pass in the loop.
//
// Design (the classic feedback comb with loop filter, e.g. U. Zölzer, "DAFX", 2nd ed., ch. 2):
// - Each channel has a delay line of D = round(time · 48000) frames (1 … 96,000: 2 s at most).
// - The line's output passes a one-pole low-pass, y = (1 − c)·x + c·y₁ with c = exp(−2π·cutoff/48000),
//   whose gain is at most 1 at every frequency. The filtered signal is the wet signal, and it is
//   also fed back into the line times the feedback: line input = x + feedback · wet.
// - Output: (1 − mix)·dry + mix·wet, mix = percent / 100 clamped into 0 … 1.
// Parameters are brought into usable ranges: time 1 frame … 2 s, feedback −99 … +99 % (so every
// echo is quieter than the one before and the loop is stable), cutoff 10 Hz … 24 kHz; a
// non-finite value keeps the previous setting.
class DelayUnit final : public EffectUnit {
public:
    static constexpr double kMaxDelayTime = 2.0;  // s

    DelayUnit();

    void setDelayTime(double seconds);
    void setFeedback(float percent);
    void setWetDryMix(float percent);
    void setLowPassCutoff(float hz);

    double delayTime() const { return time_; }
    float feedback() const { return feedbackPercent_; }
    float wetDryMix() const { return mixPercent_; }
    float lowPassCutoff() const { return cutoff_; }

    void process(float* left, float* right, std::size_t frames) noexcept override;

private:
    double time_ = 1.0;
    float feedbackPercent_ = 50.0f;
    float mixPercent_ = 100.0f;
    float cutoff_ = 15000.0f;

    std::size_t delay_ = 0;  // D
    double pole_ = 0.0;      // c
    std::vector<float> lineLeft_, lineRight_;
    std::size_t position_ = 0;
    double stateLeft_ = 0.0, stateRight_ = 0.0;
};

}  // namespace tessoral
