#include "processing/DistortionUnit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "model/Frames.h"

namespace tessoral {

namespace {

inline double saturate(double x) {
    if (x >= 3.0) return 1.0;
    if (x <= -3.0) return -1.0;
    const double x2 = x * x;
    return x * (27.0 + x2) / (27.0 + 9.0 * x2);
}

inline double signedSquare(double x) { return x * std::fabs(x); }

}  // namespace

void DistortionUnit::loadFactoryPreset(int) {
    preset_ = FactoryPreset::multiDistortedSquared;
    stateLeft_ = 0.0;
    stateRight_ = 0.0;
}

void DistortionUnit::setWetDryMix(float percent) {
    if (std::isfinite(percent)) mixPercent_ = percent;
}

void DistortionUnit::setPreGain(float dB) {
    if (std::isfinite(dB)) preGainDB_ = dB;
}

double DistortionUnit::shape(double x) {
    double s = saturate(4.0 * x);
    s = signedSquare(s);
    s = saturate(3.0 * s);
    s = signedSquare(s);
    return saturate(2.0 * s);
}

void DistortionUnit::process(float* left, float* right, std::size_t frames) noexcept {
    frames = std::min(frames, kMaxFrames);
    const double pre = std::pow(10.0, clampTo(static_cast<double>(preGainDB_), -80.0, 40.0) / 20.0);
    const double mix = clampTo(static_cast<double>(mixPercent_) / 100.0, 0.0, 1.0);
    const double dry = 1.0 - mix;
    const double c = std::exp(-2.0 * std::numbers::pi * 7000.0 / kSampleRate);
    double sl = stateLeft_, sr = stateRight_;
    for (std::size_t i = 0; i < frames; ++i) {
        const double xl = left[i], xr = right[i];
        sl = (1.0 - c) * shape(pre * xl) + c * sl;
        sr = (1.0 - c) * shape(pre * xr) + c * sr;
        left[i] = static_cast<float>(dry * xl + mix * 0.5 * sl);
        right[i] = static_cast<float>(dry * xr + mix * 0.5 * sr);
    }
    stateLeft_ = sl;
    stateRight_ = sr;
}

}  // namespace tessoral
