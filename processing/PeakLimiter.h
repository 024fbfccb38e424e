#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "processing/EffectUnit.h"

namespace tessoral {

// The peak limiter: a stereo-linked look-ahead limiter whose output never exceeds full scale.
//
// Design (the usual look-ahead brick-wall limiter, as described for example by
// U. Zölzer, "DAFX", 2nd ed., ch. 4, and by S. Sanfilippo's "sliding-minimum" limiter):
// - The signal is delayed by the attack time L = round(attack · 48000) frames (at least 1): the
//   unit's latency, which nobody compensates, so the first L output frames are silent.
// - Required gain per frame: r[n] = min(1, 1 / max(|left|, |right|)).
// - The gain curve is the minimum of r over the last L + 1 frames (a sliding minimum kept in a
//   monotonic queue), which recovers towards 1 no faster than the decay allows:
//   a[n] = min(minimum, 1 − (1 − a[n−1])·exp(−1/(decay·48000))).
// - That curve is averaged over its last L + 1 values (a moving box), so the gain falls smoothly
//   during the attack and has reached every required value by the time its peak leaves the delay.
// - A final clamp to ±1 removes what rounding could leave, so no output sample exceeds full scale.
// Parameters: attack 0.0005 … 0.05 s, decay 0.001 … 10 s; a non-finite value keeps the previous one.
class PeakLimiter final : public EffectUnit {
public:
    // The unit's parameter ids.
    enum class Parameter { attackTime = 0, decayTime = 1 };

    PeakLimiter();

    // A change of the attack time restarts the unit (its delay line changes length).
    void setParameter(Parameter id, float value);
    float parameter(Parameter id) const;
    // The look-ahead delay in frames.
    std::size_t latency() const { return lookahead_; }

    void process(float* left, float* right, std::size_t frames) noexcept override;

    // process() in three steps, so that one signal can render on several threads: required() of
    // any frames, on any thread and in any order; track() in order over the whole signal; release()
    // of any frames once tracked. The same samples as process().
    // The gain each frame requires, into `gains`.
    static void required(const float* left, const float* right, double* gains, std::size_t frames) noexcept;
    // Follows the required gains in order: each becomes the gain curve's running sum at its frame,
    // and each input sample (given in `left` and `right`) the delayed sample that leaves then.
    void track(double* gains, float* left, float* right, std::size_t frames) noexcept;
    // The output of each frame from its running sum and delayed samples.
    void release(const double* sums, const float* delayedLeft, const float* delayedRight, float* outLeft,
                 float* outRight, std::size_t frames) const noexcept;

private:
    void reset();

    float attack_ = 0.012f;
    float decay_ = 0.024f;
    double decayCoeff_ = 0.0;

    std::size_t lookahead_ = 0;  // L
    std::size_t window_ = 0;     // L + 1
    // Delay line of both channels and the ring of curve values for the box average.
    std::vector<float> delayLeft_, delayRight_;
    std::vector<double> curve_;
    std::array<double, kMaxFrames> sums_{};  // process()'s running sums of one slice
    std::size_t position_ = 0;
    double curveSum_ = 0.0;
    double held_ = 1.0;  // a[n−1]
    // Sliding minimum: ring of (frame, required gain), increasing in gain from head to tail.
    std::vector<double> queueGain_;
    std::vector<unsigned long long> queueFrame_;
    std::size_t head_ = 0, count_ = 0;
    unsigned long long frame_ = 0;
};

}  // namespace tessoral
