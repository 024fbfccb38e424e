#include "processing/AudioIOEffect.h"

#include <cmath>

#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/AdaptiveDenoise.h"
#include "processing/EQDesign.h"
#include "processing/EffectsDSP.h"
#include "processing/NoiseReduction.h"
#include "processing/SpectralDynamics.h"
#include "processing/UnitGraph.h"

namespace tessoral::AudioIO {

bool channelsApart(EffectPreset preset) { return preset == EffectPreset::deesser; }

namespace {

struct DeessSettings {
    float sensitivity;
    float floor;
    double low;
};

DeessSettings deessSettings(const EffectParams& params) {
    const double depth = value(EffectPreset::deesser, "depth", params);
    const double sensitivity = value(EffectPreset::deesser, "sensitivity", params);
    const double low = value(EffectPreset::deesser, "low", params);
    // The default depth of 10 dB gives a floor of exactly 0.32.
    const auto floor = static_cast<float>(depth == 10.0 ? 0.32 : std::pow(10.0, -depth / 20.0));
    // 6.4 at 0 %, 1.6 at 50 %, 0.4 at 100 %: a higher sensitivity lowers the threshold.
    const auto factor = static_cast<float>(1.6 * std::pow(2.0, (50.0 - sensitivity) / 25.0));
    return {factor, floor, low};
}

}  // namespace

std::vector<float> deessChannel(std::span<const float> samples, const EffectParams& params) {
    const DeessSettings s = deessSettings(params);
    return SpectralDynamics::deessChannel(samples, s.sensitivity, s.floor, s.low);
}

SpectralDynamics::ChannelDeesser channelDeesser(std::span<const float> samples, const EffectParams& params) {
    const DeessSettings s = deessSettings(params);
    return SpectralDynamics::ChannelDeesser(samples, s.sensitivity, s.floor, s.low);
}

namespace {

AudioData deess(const AudioData& audio, const EffectParams& params) {
    if (audio.empty()) return audio;
    return AudioData(deessChannel(audio.left.span(), params), deessChannel(audio.right.span(), params));
}

AudioData autoDenoise(const AudioData& audio, const EffectParams& params) {
    const double strength = value(EffectPreset::autoDenoise, "strength", params);
    if (audio.frames() < 2048) return audio;
    NoiseProfile profile;
    profile.left = AdaptiveDenoise::estimateNoise(audio.left.span());
    profile.right = AdaptiveDenoise::estimateNoise(audio.right.span());
    return NoiseReduction::apply(profile, audio, FrameRange{0, audio.frames()}, strength / 100.0);
}

}  // namespace

AudioData effect(EffectPreset preset, const AudioData& audio, const EffectParams& params) {
    if (UnitGraph::renders(preset)) return renderUnitGraph(preset, audio, params);
    switch (preset) {
        case EffectPreset::deesser: return deess(audio, params);
        case EffectPreset::leveler: return EffectsDSP::leveler(audio, params);
        case EffectPreset::chorus: return EffectsDSP::chorus(audio, params);
        case EffectPreset::flanger: return EffectsDSP::flanger(audio, params);
        case EffectPreset::invert: return EffectsDSP::invert(audio);
        case EffectPreset::autoDenoise: return autoDenoise(audio, params);
        case EffectPreset::parametricEQ:
        case EffectPreset::graphicEQ: return EffectsDSP::biquads(audio, EQDesign::sections(preset, params));
        default: break;
    }
    return audio;
}

}  // namespace tessoral::AudioIO
