#include <gtest/gtest.h>

#include <cmath>

#include "model/StudioError.h"
#include "processing/AdaptiveDenoise.h"
#include "processing/AudioIOEffect.h"
#include "processing/UnitGraph.h"
#include "processing/EQDesign.h"
#include "processing/EffectsDSP.h"
#include "processing/NoiseReduction.h"
#include "processing/SpectralDynamics.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

const EffectPreset kOwnKernels[] = {EffectPreset::deesser,    EffectPreset::leveler,      EffectPreset::chorus,
                                    EffectPreset::flanger,    EffectPreset::invert,       EffectPreset::autoDenoise,
                                    EffectPreset::parametricEQ, EffectPreset::graphicEQ};

// Quiet noise with loud bursts every 0.1 s: the band level far exceeds its mean during a burst.
AudioData sibilantBursts(std::int64_t frames) {
    test::SplitMix64 rng(17);
    std::vector<float> l(static_cast<std::size_t>(frames)), r(l.size());
    for (std::size_t i = 0; i < l.size(); ++i) {
        const float level = (i % 4800) < 600 ? 0.8f : 0.01f;
        l[i] = level * static_cast<float>(rng.uniform());
        r[i] = 0.5f * level * static_cast<float>(rng.uniform());
    }
    return AudioData(std::move(l), std::move(r));
}

AudioData deessedDirectly(const AudioData& in, float sensitivity, float floor, double low) {
    return AudioData(SpectralDynamics::deessChannel(in.left.span(), sensitivity, floor, low),
                     SpectralDynamics::deessChannel(in.right.span(), sensitivity, floor, low));
}

}  // namespace

TEST(AudioIOEffectTest, OwnKernelsKeepTheLength) {
    for (EffectPreset preset : kOwnKernels) {
        SCOPED_TRACE(std::string(rawValue(preset)));
        const EffectParams params{{"g3", 6}, {"p2.g", -4}};
        EXPECT_TRUE(AudioIO::effect(preset, AudioData(), params).empty());
        for (std::int64_t n : {1, 3, 2047, 2048, 5001}) {
            const AudioData out = AudioIO::effect(preset, test::noise(n, 0.3f, 1), params);
            EXPECT_EQ(out.left.size(), static_cast<std::size_t>(n));
            EXPECT_EQ(out.right.size(), static_cast<std::size_t>(n));
        }
    }
}

TEST(AudioIOEffectTest, UnitGraphPresetsGoToTheGraph) {
    const AudioData in = test::noise(5000, 0.3f, 1);
    for (EffectPreset preset : processingCases()) {
        bool own = false;
        for (EffectPreset p : kOwnKernels) own = own || p == preset;
        if (own || isEqualizer(preset)) continue;
        EXPECT_EQ(AudioIO::effect(preset, in, {}), renderUnitGraph(preset, in, {})) << rawValue(preset);
    }
}

TEST(AudioIOEffectTest, DispatchToTheKernels) {
    const AudioData in = test::noise(6000, 0.5f, 2);
    const EffectParams p{{"mix", 80}, {"rate", 2}, {"target", -12}, {"g4", 5}, {"g9", -3}};
    EXPECT_EQ(AudioIO::effect(EffectPreset::chorus, in, p), EffectsDSP::chorus(in, p));
    EXPECT_EQ(AudioIO::effect(EffectPreset::flanger, in, p), EffectsDSP::flanger(in, p));
    EXPECT_EQ(AudioIO::effect(EffectPreset::leveler, in, p), EffectsDSP::leveler(in, p));
    EXPECT_EQ(AudioIO::effect(EffectPreset::invert, in, p), EffectsDSP::invert(in));
    EXPECT_EQ(AudioIO::effect(EffectPreset::graphicEQ, in, p),
              EffectsDSP::biquads(in, EQDesign::sections(EffectPreset::graphicEQ, p)));
    // An equaliser with no active section returns the samples themselves.
    const AudioData flat = AudioIO::effect(EffectPreset::parametricEQ, in, {});
    EXPECT_TRUE(flat.left.sharesStorageWith(in.left));
    EXPECT_TRUE(flat.right.sharesStorageWith(in.right));
}

TEST(AudioIOEffectTest, DeesserFloorAndThresholdFactor) {
    const AudioData in = sibilantBursts(48000);
    // Default depth 10 dB: the floor is 0.32, not 10^(−0.5).
    const AudioData atDefault = AudioIO::effect(EffectPreset::deesser, in, {});
    EXPECT_EQ(atDefault, deessedDirectly(in, 1.6f, 0.32f, 4500));
    EXPECT_NE(atDefault, deessedDirectly(in, 1.6f, static_cast<float>(std::pow(10.0, -0.5)), 4500));
    // Depth 12 dB: 10^(−0.6) ≈ 0.2512; sensitivity 100 % gives the factor 0.4, 0 % gives 6.4.
    EXPECT_EQ(AudioIO::effect(EffectPreset::deesser, in, {{"depth", 12}, {"sensitivity", 100}, {"low", 3000}}),
              deessedDirectly(in, 0.4f, static_cast<float>(std::pow(10.0, -0.6)), 3000));
    EXPECT_EQ(AudioIO::effect(EffectPreset::deesser, in, {{"sensitivity", 0}}),
              deessedDirectly(in, 6.4f, 0.32f, 4500));
    EXPECT_NE(atDefault, in);
}

TEST(AudioIOEffectTest, AutomaticDenoiseNeedsOneAnalysisBlock) {
    const AudioData short_ = test::noise(2047, 0.2f, 4);
    const AudioData same = AudioIO::effect(EffectPreset::autoDenoise, short_, {});
    EXPECT_TRUE(same.left.sharesStorageWith(short_.left));
    EXPECT_TRUE(same.right.sharesStorageWith(short_.right));

    const AudioData in = test::noise(2048, 0.2f, 4);
    NoiseProfile profile;
    profile.left = AdaptiveDenoise::estimateNoise(in.left.span());
    profile.right = AdaptiveDenoise::estimateNoise(in.right.span());
    const AudioData out = AudioIO::effect(EffectPreset::autoDenoise, in, {{"strength", 40}});
    EXPECT_EQ(out, NoiseReduction::apply(profile, in, FrameRange{0, 2048}, 0.4));
    EXPECT_NE(out, in);
}
