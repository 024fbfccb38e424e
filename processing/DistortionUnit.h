#pragma once

#include <cstddef>

#include "processing/EffectUnit.h"

namespace tessoral {

// The distortion unit: a multi-stage waveshaper with a factory preset, a pre-gain and a wet/dry mix.
//
// Design (memoryless waveshaping in stages, as in U. Zölzer, "DAFX", 2nd ed., ch. 4, with a
// rational approximation of tanh):
// - Saturator S(x) = x·(27 + x²)/(27 + 9·x²) for |x| < 3, ±1 beyond (the [3/2] Padé form of tanh,
//   continuous and bounded by 1).
// - Factory preset 11, "multi distorted squared": the input times the pre-gain (dB) goes through
//   S(4·x), is squared with its sign kept (s·|s|, which sharpens the knee and adds density),
//   through S(3·x) again, squared once more, and a last S(2·x); a one-pole low-pass at 7 kHz
//   softens the fizz, and the result is scaled by 0.5 (−6 dB).
// - Output: (1 − mix)·dry + mix·wet, mix = percent / 100 clamped into 0 … 1; the dry path is the
//   input without the pre-gain.
// The wet signal is bounded by 0.5 whatever the input, so the output is finite for finite input.
// Parameters: pre-gain −80 … +40 dB; a non-finite value keeps the previous setting. Any other
// factory preset number loads preset 11.
class DistortionUnit final : public EffectUnit {
public:
    enum class FactoryPreset { multiDistortedSquared = 11 };

    DistortionUnit() = default;

    void loadFactoryPreset(int number);
    FactoryPreset factoryPreset() const { return preset_; }
    void setWetDryMix(float percent);
    void setPreGain(float dB);
    float wetDryMix() const { return mixPercent_; }
    float preGain() const { return preGainDB_; }

    void process(float* left, float* right, std::size_t frames) noexcept override;

    // The wet path of one sample after the pre-gain, without the tone filter.
    static double shape(double x);

private:
    FactoryPreset preset_ = FactoryPreset::multiDistortedSquared;
    float mixPercent_ = 50.0f;
    float preGainDB_ = -6.0f;
    double stateLeft_ = 0.0, stateRight_ = 0.0;
};

}  // namespace tessoral
