#include "processing/ReverbUnit.h"

#include <algorithm>
#include <cmath>

#include "model/Frames.h"

namespace tessoral {

namespace {

struct PresetShape {
    double size;
    double preDelay;  // s
    double lowDecay;  // T₀, s
    double highDecay; // s
};

PresetShape shape(ReverbUnit::FactoryPreset preset) {
    switch (preset) {
        case ReverbUnit::FactoryPreset::mediumRoom: return {0.6, 0.008, 0.9, 0.35};
        case ReverbUnit::FactoryPreset::largeHall: return {1.2, 0.020, 2.6, 1.0};
        case ReverbUnit::FactoryPreset::cathedral: return {1.8, 0.035, 6.0, 2.4};
    }
    return {0.6, 0.008, 0.9, 0.35};
}

// Line lengths in ms at size 1: spread between 23 and 71 ms, no two with a simple ratio.
constexpr std::array<double, 8> kLineMs = {23.1, 29.9, 35.3, 41.9, 47.7, 55.3, 62.9, 71.3};
constexpr std::array<double, 4> kDiffuserMs = {6.9, 8.3, 11.3, 13.9};
constexpr double kDiffusion = 0.7;
constexpr std::array<double, 8> kLeftSigns = {1, -1, 1, -1, 1, -1, 1, -1};
constexpr std::array<double, 8> kRightSigns = {1, 1, -1, -1, 1, 1, -1, -1};

std::size_t framesOf(double seconds) {
    return static_cast<std::size_t>(std::max<std::int64_t>(1, secondsToFrames(seconds)));
}

// In-place Hadamard transform of 8 values, scaled by 1/√8.
inline void hadamard8(double* v) {
    for (std::size_t h = 1; h < 8; h *= 2)
        for (std::size_t i = 0; i < 8; i += 2 * h)
            for (std::size_t j = i; j < i + h; ++j) {
                const double a = v[j], b = v[j + h];
                v[j] = a + b;
                v[j + h] = a - b;
            }
    constexpr double scale = 0.35355339059327373;
    for (std::size_t i = 0; i < 8; ++i) v[i] *= scale;
}

}  // namespace

ReverbUnit::ReverbUnit() { loadFactoryPreset(static_cast<int>(FactoryPreset::mediumRoom)); }

void ReverbUnit::loadFactoryPreset(int number) {
    switch (number) {
        case static_cast<int>(FactoryPreset::largeHall): preset_ = FactoryPreset::largeHall; break;
        case static_cast<int>(FactoryPreset::cathedral): preset_ = FactoryPreset::cathedral; break;
        default: preset_ = FactoryPreset::mediumRoom; break;
    }
    const PresetShape s = shape(preset_);
    preDelay_.assign(framesOf(s.preDelay), 0.0f);
    preDelayPosition_ = 0;
    for (std::size_t k = 0; k < diffusers_.size(); ++k) {
        diffusers_[k].buffer.assign(framesOf(kDiffuserMs[k] / 1000.0), 0.0f);
        diffusers_[k].position = 0;
    }
    double energy = 0.0;
    for (std::size_t k = 0; k < lines_.size(); ++k) {
        Line& line = lines_[k];
        const std::size_t d = framesOf(kLineMs[k] / 1000.0 * s.size);
        line.buffer.assign(d, 0.0f);
        line.position = 0;
        line.state = 0.0;
        const double frames = static_cast<double>(d);
        const double g0 = std::pow(10.0, -3.0 * frames / (s.lowDecay * kSampleRate));
        const double gPi = std::pow(10.0, -3.0 * frames / (s.highDecay * kSampleRate));
        line.gain = g0;
        line.pole = (g0 - gPi) / (g0 + gPi);
        energy += g0 * g0;
    }
    // Steady input builds up by about 1 / (1 − g²) in the network.
    wetScale_ = std::sqrt(1.0 - energy / static_cast<double>(lines_.size()));
}

void ReverbUnit::setWetDryMix(float percent) {
    if (std::isfinite(percent)) mixPercent_ = percent;
}

void ReverbUnit::process(float* left, float* right, std::size_t frames) noexcept {
    frames = std::min(frames, kMaxFrames);
    const double mix = clampTo(static_cast<double>(mixPercent_) / 100.0, 0.0, 1.0);
    const double dry = 1.0 - mix;
    const double wet = mix * wetScale_;
    const std::size_t preLength = preDelay_.size();
    for (std::size_t i = 0; i < frames; ++i) {
        const double xl = left[i], xr = right[i];

        double x = preDelay_[preDelayPosition_];
        preDelay_[preDelayPosition_] = static_cast<float>(0.5 * (xl + xr));
        if (++preDelayPosition_ == preLength) preDelayPosition_ = 0;

        for (AllPass& ap : diffusers_) {
            const double delayed = ap.buffer[ap.position];
            const double y = delayed - kDiffusion * x;
            ap.buffer[ap.position] = static_cast<float>(x + kDiffusion * y);
            if (++ap.position == ap.buffer.size()) ap.position = 0;
            x = y;
        }

        double v[8];
        double outLeft = 0.0, outRight = 0.0;
        for (std::size_t k = 0; k < 8; ++k) {
            Line& line = lines_[k];
            const double delayed = line.buffer[line.position];
            line.state = line.gain * (1.0 - line.pole) * delayed + line.pole * line.state;
            v[k] = line.state;
            outLeft += kLeftSigns[k] * delayed;
            outRight += kRightSigns[k] * delayed;
        }
        hadamard8(v);
        const double injected = x * 0.35355339059327373;
        for (std::size_t k = 0; k < 8; ++k) {
            Line& line = lines_[k];
            line.buffer[line.position] = static_cast<float>(v[k] + kLeftSigns[k] * kRightSigns[k] * injected);
            if (++line.position == line.buffer.size()) line.position = 0;
        }
        left[i] = static_cast<float>(dry * xl + wet * outLeft);
        right[i] = static_cast<float>(dry * xr + wet * outRight);
    }
}

}  // namespace tessoral
