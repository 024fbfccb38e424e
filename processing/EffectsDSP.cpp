#include "processing/EffectsDSP.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "model/Frames.h"

namespace tessoral::EffectsDSP {

namespace {

// Runs both channels through the cascade, a block at a time and section by section over the
// block in double precision, the two channels side by side (two independent recursions).
// State per channel: the two past inputs of every section (the cascade's own two past inputs
// first) and the two past outputs of every section.
AudioData cascade(const AudioData& audio, const std::vector<Biquad>& sections) {
    const std::size_t n = static_cast<std::size_t>(audio.frames());
    const std::size_t m = sections.size();
    std::vector<float> outLeft(n), outRight(n);
    std::vector<BiquadHistory> left(m), right(m);
    constexpr std::size_t kBlock = 4096;
    std::vector<double> bl(kBlock), br(kBlock);
    const float* inLeft = audio.left.data();
    const float* inRight = audio.right.data();
    for (std::size_t start = 0; start < n; start += kBlock) {
        const std::size_t count = std::min(kBlock, n - start);
        for (std::size_t i = 0; i < count; ++i) {
            bl[i] = inLeft[start + i];
            br[i] = inRight[start + i];
        }
        for (std::size_t k = 0; k < m; ++k) runSection(sections[k], left[k], right[k], bl.data(), br.data(), count);
        for (std::size_t i = 0; i < count; ++i) {
            outLeft[start + i] = static_cast<float>(bl[i]);
            outRight[start + i] = static_cast<float>(br[i]);
        }
    }
    return AudioData(std::move(outLeft), std::move(outRight));
}

std::vector<float> negated(const SharedArray<float>& channel) {
    std::vector<float> out(channel.size());
    const float* in = channel.data();
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = -in[i];
    return out;
}

struct ModulatedDelay {
    double depth;     // seconds
    double omega;     // radians per frame
    float mix;
    float feedback;
    double base;      // seconds
    std::int64_t ringLength;
};

std::vector<float> modulate(const SharedArray<float>& channel, const ModulatedDelay& md, double phase) {
    const std::size_t n = channel.size();
    const std::int64_t L = md.ringLength;
    std::vector<float> out(n);
    std::vector<float> ring(static_cast<std::size_t>(L), 0.0f);
    const float* in = channel.data();
    std::int64_t w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double D = (md.depth * std::sin(md.omega * static_cast<double>(i) + phase) + md.base) * kSampleRate;
        // D lies between 4 and L − 4 frames, so the truncation is always in range.
        const auto k = static_cast<std::int64_t>(D);
        const auto f = static_cast<float>(D - static_cast<double>(k));
        const std::int64_t i0 = (w - k + 2 * L) % L;
        const std::int64_t i1 = (i0 - 1 + L) % L;
        const float s = (1.0f - f) * ring[static_cast<std::size_t>(i0)] + f * ring[static_cast<std::size_t>(i1)];
        const float x = in[i];
        ring[static_cast<std::size_t>(w)] = x + md.feedback * s;
        out[i] = (1.0f - md.mix) * x + md.mix * s;
        if (++w == L) w = 0;
    }
    return out;
}

AudioData modulatedDelay(const AudioData& audio, EffectPreset preset, const EffectParams& params, double base,
                         double rightPhase) {
    ModulatedDelay md;
    md.depth = value(preset, "depth", params) / 1000.0;
    md.omega = value(preset, "rate", params) * 2.0 * std::numbers::pi / kSampleRate;
    md.mix = static_cast<float>(value(preset, "mix", params) / 100.0);
    md.feedback = static_cast<float>(value(preset, "feedback", params) / 100.0);
    md.base = base;
    md.ringLength = truncSaturating((md.depth + base) * kSampleRate) + 4;
    if (audio.empty()) return audio;
    return AudioData(modulate(audio.left, md, 0.0), modulate(audio.right, md, rightPhase));
}

}  // namespace

AudioData biquads(const AudioData& audio, const std::vector<Biquad>& sections) {
    if (sections.empty() || audio.empty()) return audio;
    return cascade(audio, sections);
}

AudioData invert(const AudioData& audio) {
    if (audio.empty()) return audio;
    return AudioData(negated(audio.left), negated(audio.right));
}

AudioData chorus(const AudioData& audio, const EffectParams& params) {
    return modulatedDelay(audio, EffectPreset::chorus, params, 0.018, std::numbers::pi / 2);
}

AudioData flanger(const AudioData& audio, const EffectParams& params) {
    return modulatedDelay(audio, EffectPreset::flanger, params, 0.0015, 0.0);
}

AudioData leveler(const AudioData& audio, const EffectParams& params) {
    const std::size_t n = static_cast<std::size_t>(audio.frames());
    if (n == 0) return audio;
    const float* left = audio.left.data();
    const float* right = audio.right.data();

    std::vector<double> prefix(n + 1);
    prefix[0] = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        // A non-finite sample counts as silence here: it would otherwise poison every later window.
        double m = 0.5 * static_cast<double>(left[i] + right[i]);
        if (!std::isfinite(m)) m = 0.0;
        prefix[i + 1] = prefix[i] + m * m;
    }

    const double target = value(EffectPreset::leveler, "target", params);
    const double maxGain = value(EffectPreset::leveler, "maxGain", params);
    const double T = target == -18.0 ? 0.125 : std::pow(10.0, target / 20.0);
    const double G = maxGain == 12.0 ? 4.0 : std::pow(10.0, maxGain / 20.0);

    constexpr std::size_t kHalfWindow = 9600;  // 200 ms either side
    std::vector<float> outLeft(n), outRight(n);
    double g = 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t lo = i > kHalfWindow ? i - kHalfWindow : 0;
        const std::size_t hi = std::min(i + kHalfWindow, n);
        const double rms = std::sqrt((prefix[hi] - prefix[lo]) / static_cast<double>(hi - lo));
        double desired = g;
        if (rms >= 0.001) desired = std::min(std::max(T / rms, 1.0 / G), G);
        const double alpha = desired < g ? 0.002 : 0.00012;
        g += (desired - g) * alpha;
        const auto gain = static_cast<float>(g);
        outLeft[i] = std::clamp(left[i] * gain, -1.0f, 1.0f);
        outRight[i] = std::clamp(right[i] * gain, -1.0f, 1.0f);
    }
    return AudioData(std::move(outLeft), std::move(outRight));
}

}  // namespace tessoral::EffectsDSP
