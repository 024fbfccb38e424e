#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "model/EffectParameters.h"
#include "model/EnumTraits.h"
#include "model/StudioError.h"
#include "processing/AudioIOEffect.h"
#include "processing/DelayUnit.h"
#include "processing/DistortionUnit.h"
#include "processing/DynamicsProcessor.h"
#include "processing/EQDesign.h"
#include "processing/EQUnit.h"
#include "processing/PeakLimiter.h"
#include "processing/ReverbUnit.h"
#include "processing/UnitGraph.h"
#include "support/TestAudio.h"
#include "support/TestSignals.h"

using namespace tessoral;
using test::allFinite;
using test::peak;

namespace {

const EffectPreset kGraphPresets[] = {
    EffectPreset::voice,   EffectPreset::lowCut,     EffectPreset::dehum50,    EffectPreset::dehum60,
    EffectPreset::telephone, EffectPreset::warm,     EffectPreset::bright,     EffectPreset::compressor,
    EffectPreset::limiter, EffectPreset::reverb,     EffectPreset::hall,       EffectPreset::cathedral,
    EffectPreset::echo,    EffectPreset::distortion};

AudioData render(EffectPreset preset, const AudioData& audio, const EffectParams& params = {}) {
    return AudioIO::effect(preset, audio, params);
}

AudioData sine(double hz, std::int64_t frames, double amplitude) {
    return AudioData::mono(test::sine(std::size_t(frames), hz, amplitude));
}

// A full-scale square wave, inverted on the right.
AudioData square(std::int64_t frames, int period) {
    std::vector<float> l = test::square(std::size_t(frames), std::size_t(period)), r(l.size());
    for (std::size_t i = 0; i < l.size(); ++i) r[i] = -l[i];
    return AudioData(std::move(l), std::move(r));
}

// Output level over input level in dB, over the last `tail` frames (after settling).
double gainDB(const AudioData& in, const AudioData& out, std::size_t tail) {
    const std::size_t from = in.left.size() - tail;
    return 20.0 * std::log10(test::rms(out.left.span().subspan(from)) / test::rms(in.left.span().subspan(from)));
}

EffectParams extremes(EffectPreset preset, bool upper) {
    EffectParams p;
    for (const EffectParameter& parameter : parameters(preset))
        p[parameter.key] = upper ? parameter.range.upper : parameter.range.lower;
    return p;
}

// Broadband decay time: Schroeder backward integration of the squared impulse response, a
// least-squares line through the −5 … −35 dB part of the decay curve, extended to −60 dB.
double rt60(const AudioData& ir) {
    const std::size_t n = ir.left.size();
    std::vector<double> edc(n + 1, 0.0);
    for (std::size_t i = n; i-- > 0;)
        edc[i] = edc[i + 1] + static_cast<double>(ir.left[i]) * ir.left[i] + static_cast<double>(ir.right[i]) * ir.right[i];
    double sx = 0, sy = 0, sxx = 0, sxy = 0, count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double db = 10.0 * std::log10(edc[i] / edc[0]), t = double(i) / 48000.0;
        if (db > -5.0) continue;
        if (db < -35.0) break;
        sx += t, sy += db, sxx += t * t, sxy += t * db, count += 1;
    }
    const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
    return -60.0 / slope;
}

}  // namespace

TEST(UnitGraphTest, EveryPresetKeepsTheLengthExactly) {
    const AudioData longInput = test::noise(480'000, 0.5f, 3);
    for (EffectPreset preset : allCases<EffectPreset>()) {
        SCOPED_TRACE(std::string(rawValue(preset)));
        for (std::int64_t n : {1, 4095, 4096, 4097, 480'000}) {
            const AudioData in = n == 480'000 ? longInput : longInput.slice({0, n});
            const AudioData out = render(preset, in);
            EXPECT_EQ(out.left.size(), static_cast<std::size_t>(n));
            EXPECT_EQ(out.right.size(), static_cast<std::size_t>(n));
        }
    }
}

TEST(UnitGraphTest, ExtremeParametersNeverGiveNaNOrInfinity) {
    const AudioData inputs[] = {test::noise(60'000, 1.0f, 5), square(60'000, 37)};
    for (EffectPreset preset : allCases<EffectPreset>()) {
        SCOPED_TRACE(std::string(rawValue(preset)));
        for (bool upper : {false, true})
            for (const AudioData& in : inputs) EXPECT_TRUE(allFinite(render(preset, in, extremes(preset, upper))));
    }
}

TEST(UnitGraphTest, UnitsStayFiniteWithParametersFarOutsideTheirRanges) {
    const AudioData in = square(20'000, 11);
    const float wild[] = {-1e30f, -1000.0f, -1.0f, 0.0f, 1e-12f, 1e30f, std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity()};
    auto run = [&](EffectUnit& unit) {
        std::vector<float> l(in.left.begin(), in.left.end()), r(in.right.begin(), in.right.end());
        for (std::size_t at = 0; at < l.size(); at += EffectUnit::kMaxFrames)
            unit.process(l.data() + at, r.data() + at, std::min(EffectUnit::kMaxFrames, l.size() - at));
        return allFinite(AudioData(std::move(l), std::move(r)));
    };
    for (float v : wild) {
        SCOPED_TRACE(v);
        DynamicsProcessor dynamics;
        for (auto id : {DynamicsProcessor::Parameter::threshold, DynamicsProcessor::Parameter::headroom,
                        DynamicsProcessor::Parameter::attackTime, DynamicsProcessor::Parameter::releaseTime,
                        DynamicsProcessor::Parameter::overallGain})
            dynamics.setParameter(id, v);
        EXPECT_TRUE(run(dynamics));
        PeakLimiter limiter;
        limiter.setParameter(PeakLimiter::Parameter::attackTime, v);
        limiter.setParameter(PeakLimiter::Parameter::decayTime, v);
        EXPECT_TRUE(run(limiter));
        ReverbUnit reverb;
        reverb.loadFactoryPreset(static_cast<int>(std::clamp(v, -5.0f, 50.0f)));
        reverb.setWetDryMix(v);
        EXPECT_TRUE(run(reverb));
        DelayUnit delay;
        delay.setDelayTime(v);
        delay.setFeedback(v);
        delay.setWetDryMix(v);
        delay.setLowPassCutoff(v);
        EXPECT_TRUE(run(delay));
        DistortionUnit distortion;
        distortion.setPreGain(v);
        distortion.setWetDryMix(v);
        EXPECT_TRUE(run(distortion));
        EQUnit eq;
        for (std::size_t b = 0; b < EQUnit::kBands; ++b)
            eq.setBand(b, {static_cast<EQUnit::FilterType>(b == 3 ? 7 : b), v, v, v, false});
        EXPECT_TRUE(run(eq));
    }
}

TEST(UnitGraphTest, NonFiniteInputCountsAsSilence) {
    AudioData in = test::noise(10'000, 0.5f, 8);
    in.left.mutableVector()[100] = std::numeric_limits<float>::quiet_NaN();
    in.right.mutableVector()[5000] = -std::numeric_limits<float>::infinity();
    for (EffectPreset preset : kGraphPresets) EXPECT_TRUE(allFinite(render(preset, in))) << rawValue(preset);
}

TEST(UnitGraphTest, EmptySignalAndNonGraphPresetsAreRefused) {
    for (EffectPreset preset : kGraphPresets)
        EXPECT_EQ(test::refusal([&] { render(preset, AudioData(), {}); }), "Не удалось выделить память для звука.")
            << rawValue(preset);
    EXPECT_EQ(test::refusal([] { renderUnitGraph(EffectPreset::chorus, test::noise(100, 0.1f), {}); }),
              "Не удалось подготовить эффект.");
}

// Rendering is causal and slice-independent: the result for a clip is the start of the result
// for the same clip followed by more audio, so a reverb or echo tail beyond the clip is dropped.
TEST(UnitGraphTest, ResultsEndWithTheClip) {
    const AudioData longer = test::noise(30'000, 0.8f, 4);
    for (EffectPreset preset : kGraphPresets) {
        SCOPED_TRACE(std::string(rawValue(preset)));
        const AudioData clip = longer.slice({0, 13'001});
        const AudioData full = render(preset, longer);
        EXPECT_EQ(render(preset, clip), full.slice({0, 13'001}));
    }
}

TEST(UnitGraphTest, DehumCutsTheFundamentalAndTwoHarmonics) {
    const EffectParams depth30{{"depth", 30}};
    const std::pair<double, double> cuts[] = {{60, -30}, {120, -24}, {180, -18}};
    for (const auto& [hz, expected] : cuts) {
        const AudioData in = sine(hz, 144'000, 0.5);
        EXPECT_NEAR(gainDB(in, render(EffectPreset::dehum60, in, depth30), 48'000), expected, 1.0) << hz;
    }
    // The notches are narrow: little is lost half an octave away, nothing far away.
    const AudioData between = sine(85, 96'000, 0.5), far = sine(1000, 48'000, 0.5);
    EXPECT_GT(gainDB(between, render(EffectPreset::dehum60, between, depth30), 48'000), -1.5);
    EXPECT_NEAR(gainDB(far, render(EffectPreset::dehum60, far, depth30), 24'000), 0.0, 0.05);
    // The 50 Hz variant cuts at 50 Hz.
    const AudioData at50 = sine(50, 144'000, 0.5);
    EXPECT_NEAR(gainDB(at50, render(EffectPreset::dehum50, at50, depth30), 48'000), -30.0, 1.0);
}

TEST(UnitGraphTest, TelephoneLowPassNeverSitsBelowOneAndAHalfTimesTheHighPass) {
    const auto bands = UnitGraph::eqBands(EffectPreset::telephone, {{"low", 1000}, {"high", 1400}});
    EXPECT_EQ(bands[0].filterType, EQUnit::FilterType::highPass);
    EXPECT_EQ(bands[0].frequency, 1000.0);
    EXPECT_EQ(bands[1].filterType, EQUnit::FilterType::lowPass);
    EXPECT_EQ(bands[1].frequency, 1500.0);
    EXPECT_TRUE(bands[2].bypass);
    EXPECT_TRUE(bands[3].bypass);
    // The measured band: open around 1.2 kHz, 20 dB down two octaves above the low-pass.
    const EffectParams p{{"low", 1000}, {"high", 1400}};
    const AudioData mid = sine(1225, 48'000, 0.5), high = sine(6000, 48'000, 0.5);
    EXPECT_GT(gainDB(mid, render(EffectPreset::telephone, mid, p), 24'000), -3.0);
    EXPECT_LT(gainDB(high, render(EffectPreset::telephone, high, p), 24'000), -20.0);
}

TEST(UnitGraphTest, LimiterKeepsEverySampleUnderTheCeiling) {
    const AudioData loud = test::noise(96'000, 1.0f, 6);
    for (double release : {10.0, 50.0, 1000.0}) {
        const AudioData out = render(EffectPreset::limiter, loud, {{"ceiling", -6}, {"release", release}});
        EXPECT_LE(peak(out), 0.5012f) << release;
        EXPECT_GT(peak(out), 0.45f) << release;
    }
    // Quiet material passes at the post-gain only, delayed by the 3 ms look-ahead.
    const AudioData quiet = sine(440, 9'600, 0.25);
    const AudioData out = render(EffectPreset::limiter, quiet, {{"ceiling", 0}});
    for (std::size_t i = 144; i < 9'600; i += 97) EXPECT_FLOAT_EQ(out.left[i], quiet.left[i - 144]);
    // The post-gain is 10^(ceiling/20) in single precision, applied to the unit's output (the
    // output at ceiling 0); −11.97 dB is a ceiling where double precision rounds differently.
    const AudioData unit = render(EffectPreset::limiter, loud, {{"ceiling", 0}});
    const AudioData scaled = render(EffectPreset::limiter, loud, {{"ceiling", -11.97}});
    const float g = std::pow(10.0f, static_cast<float>(-11.97) / 20.0f);
    for (std::size_t i = 0; i < unit.left.size(); i += 101) {
        ASSERT_EQ(scaled.left[i], unit.left[i] * g) << i;
        ASSERT_EQ(scaled.right[i], unit.right[i] * g) << i;
    }
}

TEST(UnitGraphTest, CompressorGainBelowAndAboveTheThreshold) {
    const AudioData quiet = sine(1000, 48'000, 0.01);  // −40 dBFS peak, threshold −20 dB
    EXPECT_NEAR(gainDB(quiet, render(EffectPreset::compressor, quiet, {{"makeup", 0}}), 24'000), 0.0, 0.1);
    EXPECT_NEAR(gainDB(quiet, render(EffectPreset::compressor, quiet, {{"makeup", 6}}), 24'000), 6.0, 0.1);
    // A full-scale tone with threshold −20 dB and headroom 8 dB: ratio 2.5, so 12 dB of reduction.
    const AudioData loud = sine(1000, 48'000, 1.0);
    const AudioData out = render(EffectPreset::compressor, loud, {{"threshold", -20}, {"headroom", 8}});
    EXPECT_NEAR(gainDB(loud, out, 24'000), -12.0, 1.0);
}

TEST(UnitGraphTest, ReverbDecayGrowsFromRoomToHallToCathedral) {
    std::vector<float> impulse(8 * 48'000, 0.0f);
    impulse[0] = 1.0f;
    const AudioData ir = AudioData::mono(impulse);
    const double room = rt60(render(EffectPreset::reverb, ir, {{"mix", 100}}));
    const double hall = rt60(render(EffectPreset::hall, ir, {{"mix", 100}}));
    const double cathedral = rt60(render(EffectPreset::cathedral, ir, {{"mix", 100}}));
    EXPECT_TRUE(room >= 0.5 && room <= 1.1) << room;
    EXPECT_TRUE(hall >= 1.6 && hall <= 3.0) << hall;
    EXPECT_TRUE(cathedral >= 4.0 && cathedral <= 7.0) << cathedral;
    // At mix 0 the reverb passes the dry signal only.
    const AudioData in = test::noise(5'000, 0.5f, 9);
    EXPECT_EQ(render(EffectPreset::hall, in, {{"mix", 0}}), in);
}

TEST(UnitGraphTest, EchoRepeatsAfterTheDelayTimeWithTheFeedback) {
    std::vector<float> impulse(30'000, 0.0f);
    impulse[0] = 1.0f;
    const AudioData in = AudioData::mono(std::move(impulse));
    const AudioData out =
        render(EffectPreset::echo, in, {{"delay", 100}, {"feedback", 50}, {"mix", 100}, {"lowPass", 20000}});
    // The loop's low-pass has unit gain at 0 Hz, so each echo's samples sum to the feedback power.
    auto echoSum = [&](std::size_t at) {
        double e = 0;
        for (std::size_t i = at; i < at + 1000; ++i) e += out.left[i];
        return e;
    };
    EXPECT_EQ(out.left[4799], 0.0f);
    EXPECT_GT(out.left[4800], 0.5f);
    EXPECT_NEAR(echoSum(4800), 1.0, 1e-4);
    EXPECT_NEAR(echoSum(9600), 0.5, 1e-4);
    EXPECT_NEAR(echoSum(14400), 0.25, 1e-4);
}

TEST(UnitGraphTest, DistortionWetPathIsBoundedAndDistorts) {
    const AudioData in = sine(200, 24'000, 1.0);
    const AudioData wet = render(EffectPreset::distortion, in, {{"mix", 100}, {"preGain", 20}});
    EXPECT_LE(peak(wet), 0.5f);
    // A driven sine comes out nearly square: its RMS approaches its peak.
    EXPECT_GT(test::rms(wet.left.span().subspan(12'000)) / peak(wet), 0.85);
}

namespace {

// The units' loops as they were first written, frame by frame, kept here as the reference that
// faster loops must match to the bit.
struct ReferenceCompressor {
    double threshold, slope, kneeStart, attackCoeff, releaseCoeff, makeup, reduction = 0.0;
    ReferenceCompressor(double t, double headroom, double attack, double release, double gainDB) : threshold(t) {
        const double ratio = std::max(1.0, -t / headroom);
        slope = 1.0 - 1.0 / ratio;
        kneeStart = std::pow(10.0, (t - 3.0) / 20.0);
        attackCoeff = std::exp(-1.0 / (attack * 48000.0));
        releaseCoeff = std::exp(-1.0 / (release * 48000.0));
        makeup = std::pow(10.0, gainDB / 20.0);
    }
    double staticReduction(double levelDB) const {
        const double over = levelDB - threshold;
        if (2 * over < -6.0) return 0.0;
        if (2 * over > 6.0) return slope * over;
        const double x = over + 3.0;
        return slope * x * x / 12.0;
    }
    void process(float* left, float* right, std::size_t frames) {
        double g = reduction;
        for (std::size_t i = 0; i < frames; ++i) {
            double target = 0.0;
            const double peak = std::max(std::fabs(left[i]), std::fabs(right[i]));
            if (slope > 0.0 && peak > kneeStart) target = staticReduction(20.0 * std::log10(peak));
            const double coeff = target > g ? attackCoeff : releaseCoeff;
            g = target + coeff * (g - target);
            if (g < 1e-9) g = 0.0;
            const double gain = g == 0.0 ? makeup : makeup * std::exp(g * -0.11512925464970229);
            left[i] = static_cast<float>(left[i] * gain);
            right[i] = static_cast<float>(right[i] * gain);
        }
        reduction = g;
    }
};

struct ReferenceLimiter {
    std::size_t window;
    double decayCoeff;
    std::vector<float> delayLeft, delayRight;
    std::vector<double> curve, queueGain;
    std::vector<unsigned long long> queueFrame;
    std::vector<double> sums;  // the curve's running sum at each frame, as the output used it
    std::size_t position = 0, head = 0, count = 0;
    double curveSum, held = 1.0;
    unsigned long long frame = 0;
    ReferenceLimiter(std::size_t lookahead, double decay)
        : window(lookahead + 1), decayCoeff(std::exp(-1.0 / (decay * 48000.0))), delayLeft(window),
          delayRight(window), curve(window, 1.0), queueGain(window + 1, 1.0), queueFrame(window + 1, 0),
          curveSum(static_cast<double>(window)) {}
    void process(float* left, float* right, std::size_t frames) {
        const std::size_t capacity = queueGain.size();
        for (std::size_t i = 0; i < frames; ++i) {
            const float xl = left[i], xr = right[i];
            const double peak = std::max(std::fabs(xl), std::fabs(xr));
            const double required = peak > 1.0 ? 1.0 / peak : 1.0;
            while (count > 0 && queueGain[(head + count - 1) % capacity] >= required) --count;
            queueGain[(head + count) % capacity] = required;
            queueFrame[(head + count) % capacity] = frame;
            ++count;
            while (queueFrame[head] + window <= frame) {
                head = (head + 1) % capacity;
                --count;
            }
            const double minimum = queueGain[head];
            const double recovered = 1.0 - (1.0 - held) * decayCoeff;
            held = std::min(minimum, recovered);
            curveSum += held - curve[position];
            curve[position] = held;
            sums.push_back(curveSum);
            const double gain = std::min(1.0, curveSum / static_cast<double>(window));
            delayLeft[position] = xl;
            delayRight[position] = xr;
            const std::size_t oldest = position + 1 == window ? 0 : position + 1;
            left[i] = static_cast<float>(std::clamp(delayLeft[oldest] * gain, -1.0, 1.0));
            right[i] = static_cast<float>(std::clamp(delayRight[oldest] * gain, -1.0, 1.0));
            position = oldest;
            ++frame;
            if (position == 0) {
                double sum = 0.0;
                for (double v : curve) sum += v;
                curveSum = sum;
            }
        }
    }
};

// Each section over the whole slice in turn, both channels side by side, in double buffers.
struct ReferenceEqualiser {
    std::vector<Biquad> sections;
    std::vector<BiquadHistory> left, right;
    void process(float* l, float* r, std::size_t frames) {
        std::vector<double> bl(l, l + frames), br(r, r + frames);
        for (std::size_t k = 0; k < sections.size(); ++k)
            runSection(sections[k], left[k], right[k], bl.data(), br.data(), frames);
        std::copy(bl.begin(), bl.end(), l);
        std::copy(br.begin(), br.end(), r);
    }
};

// The reverb frame by frame: pre-delay, four all-passes, eight lines through a Hadamard matrix.
struct ReferenceReverb {
    struct Ring {
        std::vector<float> buffer;
        std::size_t position = 0;
        double gain = 0, pole = 0, state = 0;
        float& at() { return buffer[position]; }
        void step() { position = position + 1 == buffer.size() ? 0 : position + 1; }
    };
    Ring pre, diffusers[4], lines[8];
    double dry, wet;
    static std::size_t frames(double ms) { return static_cast<std::size_t>(std::llround(ms * 48.0)); }
    ReferenceReverb(double size, double preMs, double lowDecay, double highDecay, double mix) {
        pre.buffer.resize(frames(preMs));
        const double diffuserMs[4] = {6.9, 8.3, 11.3, 13.9};
        const double lineMs[8] = {23.1, 29.9, 35.3, 41.9, 47.7, 55.3, 62.9, 71.3};
        for (int k = 0; k < 4; ++k) diffusers[k].buffer.resize(frames(diffuserMs[k]));
        double energy = 0;
        for (int k = 0; k < 8; ++k) {
            const std::size_t d = frames(lineMs[k] * size);
            lines[k].buffer.resize(d);
            const double g0 = std::pow(10.0, -3.0 * d / (lowDecay * 48000.0));
            const double gPi = std::pow(10.0, -3.0 * d / (highDecay * 48000.0));
            lines[k].gain = g0;
            lines[k].pole = (g0 - gPi) / (g0 + gPi);
            energy += g0 * g0;
        }
        dry = 1.0 - mix;
        wet = mix * std::sqrt(1.0 - energy / 8.0);
    }
    void process(float* left, float* right, std::size_t frames) {
        const double signs[2][8] = {{1, -1, 1, -1, 1, -1, 1, -1}, {1, 1, -1, -1, 1, 1, -1, -1}};
        for (std::size_t i = 0; i < frames; ++i) {
            const double xl = left[i], xr = right[i];
            double x = pre.at();
            pre.at() = static_cast<float>(0.5 * (xl + xr));
            pre.step();
            for (Ring& ap : diffusers) {
                const double y = ap.at() - 0.7 * x;
                ap.at() = static_cast<float>(x + 0.7 * y);
                ap.step();
                x = y;
            }
            double v[8], out[2] = {0.0, 0.0};
            for (int k = 0; k < 8; ++k) {
                const double delayed = lines[k].at();
                lines[k].state = lines[k].gain * (1.0 - lines[k].pole) * delayed + lines[k].pole * lines[k].state;
                v[k] = lines[k].state;
                out[0] += signs[0][k] * delayed;
                out[1] += signs[1][k] * delayed;
            }
            for (int h = 1; h < 8; h *= 2)
                for (int j = 0; j < 8; ++j)
                    if ((j & h) == 0) std::tie(v[j], v[j + h]) = std::pair(v[j] + v[j + h], v[j] - v[j + h]);
            for (int k = 0; k < 8; ++k) {
                lines[k].at() = static_cast<float>(v[k] * 0.35355339059327373 +
                                                   signs[0][k] * signs[1][k] * (x * 0.35355339059327373));
                lines[k].step();
            }
            left[i] = static_cast<float>(dry * xl + wet * out[0]);
            right[i] = static_cast<float>(dry * xr + wet * out[1]);
        }
    }
};

// Loud on the left (well over full scale in bursts), much quieter on the right, and the other way
// round while the left is silent (the compressor recovers then); a tail of tiny values.
AudioData lopsided(std::size_t frames) {
    std::vector<float> l(frames), r(frames);
    std::uint64_t s = 77;
    for (std::size_t i = 0; i < frames; ++i) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        const double noise = static_cast<double>(s >> 11) / 9007199254740992.0 - 0.5;
        const double burst = (i / 3000) % 3 == 2 ? 0.0 : ((i / 3000) % 3 == 0 ? 6.0 : 1.2);
        l[i] = static_cast<float>(burst * noise * (1.0 + std::sin(i * 0.003)));
        r[i] = static_cast<float>(burst == 0.0 ? 3.0 * noise : 0.02 * noise + 0.01 * std::sin(i * 0.05));
        if (i > frames - 3000) l[i] = r[i] = static_cast<float>(1e-41 * noise);
    }
    return AudioData(std::move(l), std::move(r));
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Runs `unit` and `reference` over the signal in slices of at most 4096 frames (an odd one at
// the end) and expects the same bits.
template <class Unit, class Reference>
void expectSameSamples(Unit& unit, Reference& reference, const AudioData& audio) {
    std::vector<float> l = audio.left.toVector(), r = audio.right.toVector();
    std::vector<float> rl = l, rr = r;
    for (std::size_t p = 0; p < l.size(); p += 4096) {
        const std::size_t n = std::min<std::size_t>(4096, l.size() - p);
        unit.process(l.data() + p, r.data() + p, n);
        reference.process(rl.data() + p, rr.data() + p, n);
    }
    EXPECT_TRUE(sameBits(l, rl) && sameBits(r, rr));
}

}  // namespace

// The compressor, the limiter and the equaliser give the very samples of their first, plain
// loops, on material they work hard on; and a compressor graph rendered in its three steps, the
// steps over uneven spans and the outer ones out of order, gives the samples of the whole graph.
TEST(UnitGraphTest, UnitsGiveTheSamplesOfTheirPlainLoops) {
    const AudioData audio = lopsided(4 * 4096 + 1234);
    for (const double release : {0.002, 0.3}) {
        DynamicsProcessor unit;
        using P = DynamicsProcessor::Parameter;
        unit.setParameter(P::threshold, -30.0f);
        unit.setParameter(P::headroom, 4.0f);
        unit.setParameter(P::attackTime, 0.0005f);
        unit.setParameter(P::releaseTime, static_cast<float>(release));
        unit.setParameter(P::overallGain, 3.0f);
        ReferenceCompressor reference(-30.0, 4.0, 0.0005f, static_cast<float>(release), 3.0);
        expectSameSamples(unit, reference, audio);
    }
    for (const double decay : {0.001, 0.2}) {
        PeakLimiter unit;
        unit.setParameter(PeakLimiter::Parameter::attackTime, 0.003f);
        unit.setParameter(PeakLimiter::Parameter::decayTime, static_cast<float>(decay));
        ReferenceLimiter reference(unit.latency(), static_cast<float>(decay));
        expectSameSamples(unit, reference, audio);
        // The running sums its steps hand on are the ones the plain loop divides.
        PeakLimiter steps;
        steps.setParameter(PeakLimiter::Parameter::attackTime, 0.003f);
        steps.setParameter(PeakLimiter::Parameter::decayTime, static_cast<float>(decay));
        std::vector<float> l = audio.left.toVector(), r = audio.right.toVector();
        std::vector<double> sums(l.size());
        PeakLimiter::required(l.data(), r.data(), sums.data(), l.size());
        steps.track(sums.data(), l.data(), r.data(), l.size());
        EXPECT_EQ(std::memcmp(sums.data(), reference.sums.data(), sums.size() * sizeof(double)), 0);
    }
    using F = EQUnit::FilterType;
    const EQUnit::Band bands[] = {{F::highPass, 120.0, 0.0, 1.5, false},
                                  {F::parametric, 3000.0, 9.0, 0.3, false},
                                  {F::lowShelf, 300.0, -12.0, 1.0, false},
                                  {F::lowPass, 5000.0, 0.0, 1.5, false}};
    // One to four bands, and four with the second bypassed (the others keep their order).
    for (std::size_t used = 1; used <= 5; ++used) {
        SCOPED_TRACE(used);
        EQUnit unit;
        ReferenceEqualiser reference;
        for (std::size_t k = 0; k < std::min<std::size_t>(used, 4); ++k) {
            EQUnit::Band band = bands[k];
            band.bypass = used == 5 && k == 1;
            unit.setBand(k, band);
            if (band.bypass) continue;
            reference.sections.push_back(EQUnit::design(band));
            reference.left.emplace_back();
            reference.right.emplace_back();
        }
        expectSameSamples(unit, reference, audio);
    }

    // The graphs in steps.
    const std::pair<EffectPreset, EffectParams> split[] = {
        {EffectPreset::compressor,
         {{"threshold", -28.0}, {"headroom", 3.0}, {"attack", 0.5}, {"release", 40.0}, {"makeup", 4.0}}},
        {EffectPreset::limiter, {{"ceiling", -3.0}, {"release", 20.0}}},
        {EffectPreset::hall, {{"mix", 45.0}}}};
    for (const auto& [preset, params] : split) {
        SCOPED_TRACE(std::string(rawValue(preset)));
        UnitGraphStream whole(preset, params), steps(preset, params);
        ASSERT_TRUE(steps.splits());
        std::vector<float> l = audio.left.toVector(), r = audio.right.toVector();
        l[7000] = std::numeric_limits<float>::quiet_NaN();  // while the right channel is the loud one
        std::vector<float> sl = l, sr = r;
        for (std::size_t p = 0; p < l.size(); p += 4096) {
            const std::size_t n = std::min<std::size_t>(4096, l.size() - p);
            whole.process(l.data() + p, r.data() + p, l.data() + p, r.data() + p, n);
        }
        const std::size_t n = sl.size(), cut = 7001;  // spans longer than a slice, and not slice-aligned
        std::vector<double> values(n);
        std::vector<float> left(n), right(n);
        const UnitGraphStream::Scratch scratch{values.data(), left.data(), right.data()};
        // A reverb's preparation carries its diffusion: in order.
        const bool inOrder = preset == EffectPreset::hall;
        EXPECT_EQ(steps.preparesInOrder(), inOrder);
        if (inOrder) steps.prepare(sl.data(), sr.data(), scratch, cut);
        steps.prepare(sl.data() + cut, sr.data() + cut, scratch + cut, n - cut);
        if (!inOrder) steps.prepare(sl.data(), sr.data(), scratch, cut);
        steps.carry(scratch, cut);
        steps.carry(scratch + cut, n - cut);
        steps.finish(scratch + cut, sl.data() + cut, sr.data() + cut, sl.data() + cut, sr.data() + cut, n - cut);
        steps.finish(scratch, sl.data(), sr.data(), sl.data(), sr.data(), cut);
        EXPECT_TRUE(sameBits(l, sl) && sameBits(r, sr));
    }
    // The reverb's three rooms, at a mix that keeps some of the dry signal.
    const double rooms[3][4] = {{0.6, 8, 0.9, 0.35}, {1.2, 20, 2.6, 1.0}, {1.8, 35, 6.0, 2.4}};
    for (const int number : {1, 4, 8}) {
        SCOPED_TRACE(number);
        ReverbUnit unit;
        unit.loadFactoryPreset(number);
        unit.setWetDryMix(40.0f);
        const double* room = rooms[number / 4];
        ReferenceReverb reference(room[0], room[1], room[2], room[3], 0.4);
        expectSameSamples(unit, reference, audio);
    }
    EXPECT_FALSE(UnitGraphStream(EffectPreset::voice, {}).splits());
    EXPECT_FALSE(UnitGraphStream(EffectPreset::warm, {}).splits());
}
