#include "processing/UnitGraph.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/DelayUnit.h"
#include "processing/DistortionUnit.h"
#include "processing/DynamicsProcessor.h"
#include "processing/OfflineRender.h"
#include "processing/PeakLimiter.h"
#include "processing/ReverbUnit.h"

namespace tessoral {

namespace {

using Filter = EQUnit::FilterType;

// Denormal numbers in the decaying tails of the recursive units would cost a hundred times the
// normal speed; flush them to zero while a graph renders and restore the caller's mode after.
class FlushDenormals {
public:
#if defined(__SSE2__)
    FlushDenormals() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040u); }
    ~FlushDenormals() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
#endif
};

EQUnit::Band band(Filter type, double frequency, double gain, double bandwidth) {
    EQUnit::Band b;
    b.filterType = type;
    b.frequency = frequency;
    b.gain = gain;
    b.bandwidth = bandwidth;
    b.bypass = false;
    return b;
}

float asFloat(double v) { return static_cast<float>(v); }

std::unique_ptr<EffectUnit> effectUnit(EffectPreset preset, const EffectParams& params) {
    auto v = [&](const char* key) { return value(preset, key, params); };
    switch (preset) {
        case EffectPreset::voice: {
            auto unit = std::make_unique<DynamicsProcessor>();
            using P = DynamicsProcessor::Parameter;
            unit->setParameter(P::threshold, -20.0f);
            unit->setParameter(P::headroom, 8.0f);
            unit->setParameter(P::attackTime, 0.005f);
            unit->setParameter(P::releaseTime, 0.12f);
            return unit;
        }
        case EffectPreset::compressor: {
            auto unit = std::make_unique<DynamicsProcessor>();
            using P = DynamicsProcessor::Parameter;
            unit->setParameter(P::threshold, asFloat(v("threshold")));
            unit->setParameter(P::headroom, asFloat(v("headroom")));
            unit->setParameter(P::attackTime, asFloat(v("attack") / 1000.0));
            unit->setParameter(P::releaseTime, asFloat(v("release") / 1000.0));
            const double makeup = v("makeup");
            if (makeup != 0.0) unit->setParameter(P::overallGain, asFloat(makeup));
            return unit;
        }
        case EffectPreset::limiter: {
            auto unit = std::make_unique<PeakLimiter>();
            unit->setParameter(PeakLimiter::Parameter::attackTime, 0.003f);
            unit->setParameter(PeakLimiter::Parameter::decayTime, asFloat(v("release") / 1000.0));
            return unit;
        }
        case EffectPreset::reverb:
        case EffectPreset::hall:
        case EffectPreset::cathedral: {
            auto unit = std::make_unique<ReverbUnit>();
            const int number = preset == EffectPreset::reverb ? 1 : preset == EffectPreset::hall ? 4 : 8;
            unit->loadFactoryPreset(number);
            unit->setWetDryMix(asFloat(v("mix")));
            return unit;
        }
        case EffectPreset::echo: {
            auto unit = std::make_unique<DelayUnit>();
            unit->setDelayTime(v("delay") / 1000.0);
            unit->setFeedback(asFloat(v("feedback")));
            unit->setWetDryMix(asFloat(v("mix")));
            unit->setLowPassCutoff(asFloat(v("lowPass")));
            return unit;
        }
        case EffectPreset::distortion: {
            auto unit = std::make_unique<DistortionUnit>();
            unit->loadFactoryPreset(static_cast<int>(DistortionUnit::FactoryPreset::multiDistortedSquared));
            unit->setWetDryMix(asFloat(v("mix")));
            unit->setPreGain(asFloat(v("preGain")));
            return unit;
        }
        default: return nullptr;
    }
}

// Copies one slice of the source, non-finite samples as silence.
void readSource(const float* in, float* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = std::isfinite(in[i]) ? in[i] : 0.0f;
}

// Hands `body` the source, read as a graph's source reads it, one slice at a time: its two
// channels, the slice's first frame and its length.
template <class Body>
void bySlice(const float* inLeft, const float* inRight, std::size_t frames, Body body) {
    float left[EffectUnit::kMaxFrames], right[EffectUnit::kMaxFrames];
    for (std::size_t p = 0; p < frames; p += EffectUnit::kMaxFrames) {
        const std::size_t n = std::min(EffectUnit::kMaxFrames, frames - p);
        readSource(inLeft + p, left, n);
        readSource(inRight + p, right, n);
        body(left, right, p, n);
    }
}

}  // namespace

namespace UnitGraph {

bool renders(EffectPreset preset) {
    switch (preset) {
        case EffectPreset::voice:
        case EffectPreset::lowCut:
        case EffectPreset::dehum50:
        case EffectPreset::dehum60:
        case EffectPreset::telephone:
        case EffectPreset::warm:
        case EffectPreset::bright:
        case EffectPreset::compressor:
        case EffectPreset::limiter:
        case EffectPreset::reverb:
        case EffectPreset::hall:
        case EffectPreset::cathedral:
        case EffectPreset::echo:
        case EffectPreset::distortion: return true;
        default: return false;
    }
}

std::array<EQUnit::Band, EQUnit::kBands> eqBands(EffectPreset preset, const EffectParams& params) {
    std::array<EQUnit::Band, EQUnit::kBands> bands{};
    auto v = [&](const char* key) { return value(preset, key, params); };
    switch (preset) {
        case EffectPreset::voice:
            bands[0] = band(Filter::highPass, v("lowCut"), 0.0, 1.5);
            bands[1] = band(Filter::parametric, 3200.0, v("presence"), 1.5);
            break;
        case EffectPreset::lowCut: bands[0] = band(Filter::highPass, v("frequency"), 0.0, 1.5); break;
        case EffectPreset::dehum50:
        case EffectPreset::dehum60: {
            const double f0 = preset == EffectPreset::dehum50 ? 50.0 : 60.0;
            const double depth = v("depth");
            bands[0] = band(Filter::parametric, f0, -depth, 0.08);
            bands[1] = band(Filter::parametric, 2 * f0, -0.8 * depth, 0.08);
            bands[2] = band(Filter::parametric, 3 * f0, -0.6 * depth, 0.08);
            break;
        }
        case EffectPreset::telephone: {
            const double low = v("low");
            const double high = v("high");
            bands[0] = band(Filter::highPass, low, 0.0, 1.5);
            bands[1] = band(Filter::lowPass, std::max(high, 1.5 * low), 0.0, 1.5);
            break;
        }
        case EffectPreset::warm: bands[0] = band(Filter::lowShelf, v("frequency"), v("gain"), 1.5); break;
        case EffectPreset::bright: bands[0] = band(Filter::parametric, v("frequency"), v("gain"), 1.5); break;
        default: break;
    }
    return bands;
}

}  // namespace UnitGraph

UnitGraphStream::UnitGraphStream(EffectPreset preset, const EffectParams& params) {
    if (!UnitGraph::renders(preset)) throw StudioError(L("Не удалось подготовить эффект."));
    try {
        eq_ = std::make_unique<EQUnit>();
        const auto bands = UnitGraph::eqBands(preset, params);
        for (std::size_t i = 0; i < bands.size(); ++i) eq_->setBand(i, bands[i]);
        unit_ = effectUnit(preset, params);
    } catch (const std::bad_alloc&) {
        throw StudioError(L("Не удалось подготовить эффект."));
    }
    if (preset == EffectPreset::limiter) {
        // The ceiling in single precision, and the gain computed from it in single precision.
        const auto ceiling = static_cast<float>(value(preset, "ceiling", params));
        scaled_ = true;
        gain_ = std::pow(10.0f, ceiling / 20.0f);
    }
    if (!eq_->active()) {
        dynamics_ = scaled_ ? nullptr : dynamic_cast<DynamicsProcessor*>(unit_.get());
        limiter_ = dynamic_cast<PeakLimiter*>(unit_.get());
        reverb_ = dynamic_cast<ReverbUnit*>(unit_.get());
    }
}

UnitGraphStream::~UnitGraphStream() = default;

void UnitGraphStream::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                              std::size_t frames) noexcept {
    const FlushDenormals flush;
    readSource(inLeft, outLeft, frames);
    readSource(inRight, outRight, frames);
    eq_->process(outLeft, outRight, frames);
    if (unit_) unit_->process(outLeft, outRight, frames);
    if (scaled_) {
        const float g = gain_;
        for (float* channel : {outLeft, outRight})
            for (std::size_t i = 0; i < frames; ++i) channel[i] *= g;
    }
}

// The reverb's steps: the source into the scratch's channels and its diffusion into the values;
// the network over them, the output in the scratch's channels; copied out.
void UnitGraphStream::prepare(const float* inLeft, const float* inRight, Scratch scratch,
                              std::size_t frames) noexcept {
    const FlushDenormals flush;
    if (limiter_ || reverb_) {
        readSource(inLeft, scratch.left, frames);
        readSource(inRight, scratch.right, frames);
        if (reverb_)
            reverb_->diffuse(scratch.left, scratch.right, scratch.values, frames);
        else
            PeakLimiter::required(scratch.left, scratch.right, scratch.values, frames);
        return;
    }
    bySlice(inLeft, inRight, frames, [&](const float* left, const float* right, std::size_t p, std::size_t n) {
        dynamics_->targets(left, right, scratch.values + p, n);
    });
}

void UnitGraphStream::carry(Scratch scratch, std::size_t frames) noexcept {
    const FlushDenormals flush;
    if (limiter_)
        limiter_->track(scratch.values, scratch.left, scratch.right, frames);
    else if (reverb_)
        reverb_->network(scratch.values, scratch.left, scratch.right, frames);
    else
        dynamics_->smooth(scratch.values, frames);
}

void UnitGraphStream::finish(Scratch scratch, const float* inLeft, const float* inRight, float* outLeft,
                             float* outRight, std::size_t frames) const noexcept {
    const FlushDenormals flush;
    if (reverb_) {
        std::copy_n(scratch.left, frames, outLeft);
        std::copy_n(scratch.right, frames, outRight);
        return;
    }
    if (limiter_) {
        limiter_->release(scratch.values, scratch.left, scratch.right, outLeft, outRight, frames);
        const float g = gain_;
        for (float* channel : {outLeft, outRight})
            for (std::size_t i = 0; i < frames; ++i) channel[i] *= g;
        return;
    }
    bySlice(inLeft, inRight, frames, [&](const float* left, const float* right, std::size_t p, std::size_t n) {
        dynamics_->apply(scratch.values + p, left, right, outLeft + p, outRight + p, n);
    });
}

AudioData renderUnitGraph(EffectPreset preset, const AudioData& audio, const EffectParams& params) {
    UnitGraphStream stream(preset, params);
    const std::int64_t n = audio.frames();
    if (n == 0) throw StudioError(L("Не удалось выделить память для звука."));

    const float* inLeft = audio.left.data();
    const float* inRight = audio.right.data();
    std::size_t position = 0;
    auto render = [&](float* left, float* right, std::size_t requested) {
        stream.process(inLeft + position, inRight + position, left, right, requested);
        position += requested;
        return RenderResult{RenderStatus::success, requested};
    };
    return runOfflineRender(n, render, L("Ошибка обработки эффекта."), L("Эффект не отвечает."));
}

}  // namespace tessoral
