#include "processing/DynamicsProcessor.h"

#include <algorithm>
#include <cmath>

#include "model/Frames.h"

namespace tessoral {

namespace {

constexpr double kKneeWidth = 6.0;  // dB

}  // namespace

DynamicsProcessor::DynamicsProcessor() { update(); }

void DynamicsProcessor::setParameter(Parameter id, float value) {
    if (!std::isfinite(value)) return;
    switch (id) {
        case Parameter::threshold: threshold_ = clampTo(value, -100.0f, 0.0f); break;
        case Parameter::headroom: headroom_ = clampTo(value, 0.1f, 40.0f); break;
        case Parameter::attackTime: attack_ = clampTo(value, 0.0001f, 1.0f); break;
        case Parameter::releaseTime: release_ = clampTo(value, 0.001f, 10.0f); break;
        case Parameter::overallGain: overallGain_ = clampTo(value, -40.0f, 40.0f); break;
    }
    update();
}

float DynamicsProcessor::parameter(Parameter id) const {
    switch (id) {
        case Parameter::threshold: return threshold_;
        case Parameter::headroom: return headroom_;
        case Parameter::attackTime: return attack_;
        case Parameter::releaseTime: return release_;
        case Parameter::overallGain: return overallGain_;
    }
    return 0.0f;
}

void DynamicsProcessor::update() {
    const double ratio = std::max(1.0, -static_cast<double>(threshold_) / headroom_);
    slope_ = 1.0 - 1.0 / ratio;
    kneeStart_ = std::pow(10.0, (threshold_ - kKneeWidth / 2) / 20.0);
    attackCoeff_ = std::exp(-1.0 / (static_cast<double>(attack_) * kSampleRate));
    releaseCoeff_ = std::exp(-1.0 / (static_cast<double>(release_) * kSampleRate));
    makeup_ = std::pow(10.0, overallGain_ / 20.0);
}

double DynamicsProcessor::staticReduction(double levelDB) const {
    const double over = levelDB - threshold_;
    if (2 * over < -kKneeWidth) return 0.0;
    if (2 * over > kKneeWidth) return slope_ * over;
    const double x = over + kKneeWidth / 2;
    return slope_ * x * x / (2 * kKneeWidth);
}

void DynamicsProcessor::targets(const float* left, const float* right, double* reductions,
                                std::size_t frames) const noexcept {
    const bool compresses = slope_ > 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        double target = 0.0;
        const double peak = std::max(std::fabs(left[i]), std::fabs(right[i]));
        if (compresses && peak > kneeStart_) target = staticReduction(20.0 * std::log10(peak));
        reductions[i] = target;
    }
}

void DynamicsProcessor::smooth(double* reductions, std::size_t frames) noexcept {
    double g = reduction_;
    const double attack = attackCoeff_, release = releaseCoeff_;
    for (std::size_t i = 0; i < frames; ++i) {
        const double target = reductions[i];
        const double coeff = target > g ? attack : release;
        g = target + coeff * (g - target);
        if (g < 1e-9) g = 0.0;
        reductions[i] = g;
    }
    reduction_ = g;
}

void DynamicsProcessor::apply(const double* reductions, const float* inLeft, const float* inRight, float* outLeft,
                              float* outRight, std::size_t frames) const noexcept {
    const double makeup = makeup_;
    for (std::size_t i = 0; i < frames; ++i) {
        const double g = reductions[i];
        const double gain = g == 0.0 ? makeup : makeup * std::exp(g * -0.11512925464970229);
        outLeft[i] = static_cast<float>(inLeft[i] * gain);
        outRight[i] = static_cast<float>(inRight[i] * gain);
    }
}

void DynamicsProcessor::process(float* left, float* right, std::size_t frames) noexcept {
    frames = std::min(frames, kMaxFrames);
    targets(left, right, scratch_, frames);
    smooth(scratch_, frames);
    apply(scratch_, left, right, left, right, frames);
}

}  // namespace tessoral
