// The one mixer of the program: mute and solo, clip and row gain and pan, fades, automatic
// crossfades, envelopes, effect racks and master gain are all applied here. The sum is never
// clipped or limited.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "model/Automation.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/Session.h"
#include "model/StudioError.h"

namespace tessoral {

namespace {

constexpr std::int64_t kBlock = 8192;

// Linear balance: the side the pan points to keeps full gain, the other is scaled by 1 − |pan|.
double leftFactor(double pan) { return pan > 0 ? 1.0 - pan : 1.0; }
double rightFactor(double pan) { return pan < 0 ? 1.0 + pan : 1.0; }

struct Scratch {
    std::vector<float> left;   // G
    std::vector<float> right;  // H
    std::vector<float> pan;    // P
    void ensure() {
        if (left.empty()) {
            left.resize(kBlock);
            right.resize(kBlock);
            pan.resize(kBlock);
        }
    }
};

void mixAutomated(const Track& clip, const Lane* lane, float g, const AudioData& rendered, std::int64_t first,
                  std::int64_t last, std::int64_t offset, float* outL, float* outR, Scratch& scratch) {
    scratch.ensure();
    float* G = scratch.left.data();
    float* H = scratch.right.data();
    float* P = scratch.pan.data();
    const std::int64_t n = clip.frames();
    const auto fades = clip.fadeFrames();
    const std::int64_t fi = fades.fadeIn, fo = fades.fadeOut;
    const double p = clip.pan;
    const double q = lane ? lane->pan : 0.0;
    const float* inL = rendered.left.data();
    const float* inR = rendered.right.data();

    for (std::int64_t b0 = first; b0 < last; b0 += kBlock) {
        const std::int64_t b1 = std::min(last, b0 + kBlock);
        const std::int64_t count = b1 - b0;
        Automation::fill(clip.volumeEnvelope, {b0, b1}, true, G);
        for (std::int64_t i = 0; i < count; ++i) G[i] *= g;
        // The shape is computed in double precision and applied as a 32-bit factor.
        if (fi >= 1)
            for (std::int64_t f = b0; f < std::min(fi, b1); ++f)
                G[f - b0] *= static_cast<float>(fadeGain(clip.fadeInCurve, static_cast<double>(f) / fi));
        if (fo >= 1)
            for (std::int64_t f = std::max(n - fo, b0); f < b1; ++f)
                G[f - b0] *= static_cast<float>(fadeGain(clip.fadeOutCurve, static_cast<double>(n - 1 - f) / fo));
        if (clip.panEnvelope.empty()) {
            const auto r = static_cast<float>(rightFactor(p));
            const auto l = static_cast<float>(leftFactor(p));
            for (std::int64_t i = 0; i < count; ++i) {
                H[i] = G[i] * r;
                G[i] *= l;
            }
        } else {
            Automation::fill(clip.panEnvelope, {b0, b1}, false, P);
            for (std::int64_t i = 0; i < count; ++i) {
                H[i] = G[i] * std::min(1.0f + P[i], 1.0f);
                G[i] = G[i] * std::min(1.0f - P[i], 1.0f);
            }
        }
        if (lane && q != 0) {
            const auto l = static_cast<float>(leftFactor(q));
            const auto r = static_cast<float>(rightFactor(q));
            for (std::int64_t i = 0; i < count; ++i) {
                G[i] *= l;
                H[i] *= r;
            }
        }
        float* oL = outL + b0 + offset;
        float* oR = outR + b0 + offset;
        const float* iL = inL + b0;
        const float* iR = inR + b0;
        for (std::int64_t i = 0; i < count; ++i) {
            oL[i] += iL[i] * G[i];
            oR[i] += iR[i] * H[i];
        }
    }
}

}  // namespace

AudioData Session::mixed(std::optional<TimeRange> range, const ClipRenderer& render) const {
    if (!render) throw std::invalid_argument("Session::mixed needs a clip renderer");
    return mixed(mixPlan(range), render);
}

Session::MixPlan Session::mixPlan(std::optional<TimeRange> range) const {
    const double total = duration();
    double start = 0.0, end = total;
    if (range) {
        start = std::max(range->lower, 0.0);
        end = std::min(range->upper, total);
    }
    // NaN bounds give a NaN length, which counts as nothing to mix.
    const double span = (end - start) * kSampleRate;
    const std::int64_t frames = std::isnan(span) ? 0 : roundSaturating(span);
    if (frames < 1) throw StudioError(L("Нет звука для воспроизведения."));
    if (frames > limits::kMaxFrames) throw StudioError(L("Длина проекта ограничена 8 минутами."));

    MixPlan plan;
    plan.frames = frames;
    const std::int64_t rangeStart = secondsToFrames(start);
    const bool solo = soloActive();
    const auto automatic = automaticFades();
    for (const Track& source : tracks) {
        if (!isAudible(source, solo)) continue;
        const std::int64_t n = source.frames();
        // Clamped so that no start, however absurd, can overflow the frame arithmetic.
        constexpr std::int64_t kFar = std::int64_t{1} << 60;
        const std::int64_t offset = clampTo(secondsToFrames(source.start), -kFar, kFar) - rangeStart;
        const std::int64_t first = std::max<std::int64_t>(-offset, 0);
        const std::int64_t last = std::min<std::int64_t>(frames - offset, n);
        if (first >= last) continue;

        // Automatic fades go to a private copy; the project itself is not changed.
        MixPart part{source, lane(source), offset, first, last};
        Track& clip = part.clip;
        if (auto it = automatic.find(clip.id); it != automatic.end()) {
            if (clip.fadeIn < it->second.fadeIn) {
                clip.fadeIn = it->second.fadeIn;
                clip.fadeInCurve = FadeCurve::logarithmic;
            }
            if (clip.fadeOut < it->second.fadeOut) {
                clip.fadeOut = it->second.fadeOut;
                clip.fadeOutCurve = FadeCurve::logarithmic;
            }
        }
        plan.parts.push_back(std::move(part));
    }
    return plan;
}

AudioData Session::mixed(const MixPlan& plan, const ClipRenderer& render) const {
    if (!render) throw std::invalid_argument("Session::mixed needs a clip renderer");
    // The output is made after the first clip has rendered, so that it does not add to the peak
    // of that render; a first clip that covers all of it becomes the output itself.
    const auto frames = static_cast<std::size_t>(plan.frames);
    std::vector<float> outL, outR;
    bool made = false;
    auto make = [&] {
        if (made) return;
        outL.assign(frames, 0.0f);
        outR.assign(frames, 0.0f);
        made = true;
    };
    Scratch scratch;

    for (const MixPart& part : plan.parts) {
        const Track& clip = part.clip;
        const Lane* row = part.row;
        const std::int64_t offset = part.offset, first = part.first, last = part.last;
        AudioData rendered = render(clip);
        if (rendered.frames() < last) throw StudioError(L("Эффект изменил длину клипа."));
        const double gainDB = masterDB + (row ? row->gainDB : 0.0) + clip.gainDB;
        const auto g = static_cast<float>(std::pow(10.0, gainDB / 20.0));

        const bool plain = !(clip.fadeIn > 0) && !(clip.fadeOut > 0) && clip.volumeEnvelope.empty() &&
                           clip.panEnvelope.empty();
        if (plain) {
            const double q = row ? row->pan : 0.0;
            const auto gL = static_cast<float>(g * leftFactor(clip.pan) * leftFactor(q));
            const auto gR = static_cast<float>(g * rightFactor(clip.pan) * rightFactor(q));
            // A first clip heard over the whole output (its frames first … last − 1 are output
            // frames 0 … frames − 1): its rendered samples become the output (copied first only
            // when shared), summed onto silence as any other clip is, so that a zero's sign comes
            // out the same. One that starts before the output (a play from the middle) is moved
            // down in place when the render is its own, which spares the output's allocation and
            // clearing.
            const bool whole = rendered.frames() == plan.frames;
            const bool own = rendered.left.unshared() && rendered.right.unshared();
            if (!made && last == first + plan.frames && (whole || own)) {
                const auto skip = static_cast<std::size_t>(first);
                outL = std::move(rendered.left.mutableVector());
                outR = std::move(rendered.right.mutableVector());
                made = true;
                float* oL = outL.data();
                float* oR = outR.data();
                for (std::size_t i = 0; i < frames; ++i) {
                    oL[i] = 0.0f + gL * oL[i + skip];
                    oR[i] = 0.0f + gR * oR[i + skip];
                }
                outL.resize(frames);
                outR.resize(frames);
                // Kept while it plays: a short part of a long render gives the rest back.
                if (frames < outL.capacity() / 2) {
                    outL.shrink_to_fit();
                    outR.shrink_to_fit();
                }
                continue;
            }
            make();
            float* oL = outL.data() + first + offset;
            float* oR = outR.data() + first + offset;
            const float* iL = rendered.left.data() + first;
            const float* iR = rendered.right.data() + first;
            const std::int64_t count = last - first;
            for (std::int64_t i = 0; i < count; ++i) {
                oL[i] += gL * iL[i];
                oR[i] += gR * iR[i];
            }
        } else {
            make();
            mixAutomated(clip, row, g, rendered, first, last, offset, outL.data(), outR.data(), scratch);
        }
    }
    make();
    return AudioData(std::move(outL), std::move(outR));
}

}  // namespace tessoral
