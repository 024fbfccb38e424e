#pragma once

#include <cstddef>

#include "processing/EffectUnit.h"

namespace tessoral {

// The dynamics processor: a feed-forward, stereo-linked downward compressor.
//
// Design (after D. Giannoulis, M. Massberg, J. D. Reiss, "Digital dynamic range compressor
// design — a tutorial and analysis", JAES 60(6), 2012):
// - Level detector: the larger of |left| and |right| per frame, in dB.
// - Static curve: the span from the threshold T up to full scale is squeezed into the headroom H,
//   which gives the ratio R = max(1, −T / H) (threshold −20 dB with headroom 8 dB: 2.5 : 1; a
//   headroom as large as the span or larger: no compression). A soft knee 6 dB wide around the
//   threshold joins the two straight parts; below T − 3 dB the gain is exactly 0 dB.
// - Smoothing: the gain reduction in dB follows the static curve through a branching one-pole
//   filter, exp(−1/(attack·48000)) while the reduction grows and exp(−1/(release·48000)) while it
//   falls.
// - Output: both channels times the smoothed gain and the overall gain (0 dB unless set).
// Parameters are brought into usable ranges: threshold −100 … 0 dB, headroom 0.1 … 40 dB, attack
// 0.0001 … 1 s, release 0.001 … 10 s, overall gain −40 … +40 dB; a non-finite value keeps the
// previous setting. The gain never exceeds the overall gain, so a finite input gives a finite output.
class DynamicsProcessor final : public EffectUnit {
public:
    // The unit's parameter ids.
    enum class Parameter { threshold = 0, headroom = 1, attackTime = 4, releaseTime = 5, overallGain = 6 };

    DynamicsProcessor();

    void setParameter(Parameter id, float value);
    float parameter(Parameter id) const;

    void process(float* left, float* right, std::size_t frames) noexcept override;

    // process() in three steps, so that one signal can render on several threads: the target
    // reductions of any frames, on any thread and in any order; their smoothing, in order over the
    // whole signal; the smoothed gain applied, again in any order. The same samples as process().
    // The target reduction in dB of each frame, into `reductions`.
    void targets(const float* left, const float* right, double* reductions, std::size_t frames) const noexcept;
    // Target reductions in place into smoothed ones, carrying the smoothing from the frames before.
    void smooth(double* reductions, std::size_t frames) noexcept;
    // Both channels times the gain of each frame's smoothed reduction (the output may be the input).
    void apply(const double* reductions, const float* inLeft, const float* inRight, float* outLeft,
               float* outRight, std::size_t frames) const noexcept;

    // The static gain reduction in dB (≥ 0) for an input level in dB.
    double staticReduction(double levelDB) const;

private:
    void update();

    float threshold_ = -20.0f;
    float headroom_ = 5.0f;
    float attack_ = 0.001f;
    float release_ = 0.05f;
    float overallGain_ = 0.0f;

    double slope_ = 0.0;        // 1 − 1/R
    double kneeStart_ = 0.0;    // linear level below which the reduction is 0
    double attackCoeff_ = 0.0;
    double releaseCoeff_ = 0.0;
    double makeup_ = 1.0;
    double reduction_ = 0.0;    // smoothed reduction in dB
    double scratch_[kMaxFrames];  // process()'s reductions
};

}  // namespace tessoral
