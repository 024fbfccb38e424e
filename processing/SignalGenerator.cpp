#include "processing/SignalGenerator.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "model/Frames.h"
#include "model/Limits.h"
#include "model/Localization.h"
#include "model/SplitMix64.h"
#include "model/StudioError.h"
#include "model/VectorOps.h"

namespace tessoral::SignalGenerator {

namespace {

void checkLevel(double levelDB) {
    // Both zeros are allowed; NaN fails the comparison.
    if (!(std::isfinite(levelDB) && levelDB <= 0.0)) throw StudioError(L("Уровень должен быть не выше 0 dBFS."));
}

double amplitude(double levelDB) { return std::pow(10.0, std::max(levelDB, -120.0) / 20.0); }

// PolyBLEP: the band-limiting correction of a unit step at phase 0, for phase increment d.
double polyBlep(double t, double d) {
    if (t < d) {
        const double x = t / d;
        return 2.0 * x - x * x - 1.0;
    }
    if (t > 1.0 - d) {
        const double x = (t - 1.0) / d;
        return x * x + 2.0 * x + 1.0;
    }
    return 0.0;
}

double frac(double x) { return x - std::floor(x); }

std::vector<float> noiseChannel(NoiseColor color, double a, std::int64_t n, std::uint64_t state) {
    SplitMix64 rng(state);
    std::vector<float> out(static_cast<std::size_t>(n));
    double sum = 0.0;
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0, brown = 0;
    for (auto& sample : out) {
        const double u = rng.uniform();
        double x = u;
        switch (color) {
            case NoiseColor::white: break;
            case NoiseColor::pink:
                // Paul Kellet's refined pink-noise filter.
                b0 = 0.99886 * b0 + 0.0555179 * u;
                b1 = 0.99332 * b1 + 0.0750759 * u;
                b2 = 0.96900 * b2 + 0.1538520 * u;
                b3 = 0.86650 * b3 + 0.3104856 * u;
                b4 = 0.55000 * b4 + 0.5329522 * u;
                b5 = -0.7616 * b5 - 0.0168980 * u;
                x = b0 + b1 + b2 + b3 + b4 + b5 + b6 + 0.5362 * u;
                b6 = 0.115926 * u;
                break;
            case NoiseColor::brown:
                brown = (brown + 0.02 * u) / 1.02;
                x = brown;
                break;
        }
        sample = static_cast<float>(x);
        sum += x * x;
    }
    const double rms = std::sqrt(sum / static_cast<double>(n));
    const float g = rms > 0.0 ? static_cast<float>(a / rms) : 0.0f;
    for (auto& sample : out) sample = std::clamp(sample * g, -1.0f, 1.0f);
    return out;
}

}  // namespace

std::int64_t frames(double duration) {
    if (!(std::isfinite(duration) && duration > 0.0)) throw StudioError(L("Укажите длительность больше нуля."));
    const std::int64_t n = secondsToFrames(duration);
    if (n < 1) throw StudioError(L("Укажите длительность больше нуля."));
    if (n > limits::kMaxFrames) throw StudioError(L("Длительность ограничена 8 минутами."));
    return n;
}

AudioData tone(ToneWaveform waveform, double frequency, double levelDB, double duration) {
    if (!(std::isfinite(frequency) && frequency >= 20.0 && frequency <= 20000.0))
        throw StudioError(L("Частота должна быть от 20 до 20 000 Гц."));
    checkLevel(levelDB);
    const std::int64_t n = frames(duration);
    const double a = amplitude(levelDB);

    std::vector<float> samples(static_cast<std::size_t>(n));
    const double d = frequency / 48000.0;
    double phase = 0.0;
    for (auto& sample : samples) {
        double v = 0.0;
        switch (waveform) {
            case ToneWaveform::sine: v = std::sin(2.0 * std::numbers::pi * phase); break;
            case ToneWaveform::square:
                v = (phase < 0.5 ? 1.0 : -1.0) + polyBlep(phase, d) - polyBlep(frac(phase + 0.5), d);
                break;
            case ToneWaveform::sawtooth: v = (2.0 * phase - 1.0) - polyBlep(phase, d); break;
            case ToneWaveform::triangle: v = 1.0 - 4.0 * std::fabs(frac(phase + 0.25) - 0.5); break;
        }
        sample = static_cast<float>(std::clamp(v, -1.0, 1.0));
        phase += d;
        if (phase >= 1.0) phase -= 1.0;
    }

    const float peak = vec::maxMagnitude(samples.data(), samples.size());
    if (peak > 0.0f) {
        const auto target = static_cast<float>(a);
        const float factor = target / peak;
        // The product of the peak and its factor may round one step off the target: the peak samples
        // are set to the target itself and nothing may exceed it.
        for (auto& sample : samples) {
            if (std::fabs(sample) == peak) {
                sample = std::copysign(target, sample);
            } else {
                sample = std::clamp(sample * factor, -target, target);
            }
        }
    }
    return AudioData::mono(std::move(samples));
}

AudioData noise(NoiseColor color, double levelDB, double duration, std::uint64_t seed) {
    checkLevel(levelDB);
    const std::int64_t n = frames(duration);
    const double a = amplitude(levelDB);
    const std::uint64_t base = seed * 0x2545f4914f6cdd1dull;  // wraps
    return AudioData(noiseChannel(color, a, n, base), noiseChannel(color, a, n, base + 0x9e3779b9ull));
}

}  // namespace tessoral::SignalGenerator
