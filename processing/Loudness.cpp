#include "processing/Loudness.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "model/NumberFormat.h"
#include "model/VectorOps.h"
#include "processing/LoudnessKernels.h"
#include "processing/LoudnessWeighting.h"
#include "processing/ReconstructionPeak.h"
#include "processing/TruePeakLimiter.h"

namespace tessoral {

namespace {

constexpr std::size_t kHop = 4800;     // 100 ms
constexpr std::size_t kBlock = 19200;  // 400 ms, four hops
constexpr double kAbsoluteGate = -70.0;
constexpr double kRelativeGate = -10.0;
constexpr double kEnergyFloor = 1e-12;
// Filter states below this are flushed to zero at hop ends: a decaying recursive filter
// would otherwise crawl through subnormal numbers (very slowly) after the signal stops.
constexpr double kStateFloor = 1e-200;

double blockLoudness(double z) { return loudness_weighting::loudness(std::max(z, kEnergyFloor)); }

using loudness_weighting::kHighPass;
using loudness_weighting::kShelf;

// The gated loudness from the K-weighted energy of each whole hop and of the whole signal.
std::optional<double> gatedLoudness(const std::vector<double>& hops, double total, std::size_t frames) {
    if (frames == 0) return std::nullopt;
    std::optional<double> result;
    if (frames < kBlock) {
        const double z = total / static_cast<double>(frames);
        if (!(z > kEnergyFloor)) return std::nullopt;
        result = loudness_weighting::loudness(z);
    } else {
        std::vector<double> kept;  // energies of the blocks above the absolute gate
        kept.reserve(hops.size());
        for (std::size_t i = 0; i + 3 < hops.size(); ++i) {
            const double z = (hops[i] + hops[i + 1] + hops[i + 2] + hops[i + 3]) / static_cast<double>(kBlock);
            if (blockLoudness(z) > kAbsoluteGate) kept.push_back(z);
        }
        if (kept.empty()) return std::nullopt;
        double sum = 0.0;
        for (double z : kept) sum += z;
        const double threshold = blockLoudness(sum / static_cast<double>(kept.size())) + kRelativeGate;
        double gatedSum = 0.0;
        std::size_t gatedCount = 0;
        for (double z : kept) {
            if (blockLoudness(z) > threshold) {
                gatedSum += z;
                ++gatedCount;
            }
        }
        if (gatedCount == 0) return std::nullopt;
        result = blockLoudness(gatedSum / static_cast<double>(gatedCount));
    }
    // Samples that are not finite (never produced by decoding) leave nothing to measure.
    if (!std::isfinite(*result)) return std::nullopt;
    return result;
}

float channelPeak(const SharedArray<float>& channel) { return vec::maxMagnitude(channel.data(), channel.size()); }

}  // namespace

namespace Loudness {

double decibels(double linear) {
    if (!(linear > 0.0)) return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(linear);
}

std::optional<double> integrated(const AudioData& audio) {
    LoudnessMeter meter;
    meter.add(audio.left.data(), audio.right.data(), static_cast<std::size_t>(std::max<std::int64_t>(audio.frames(), 0)));
    return meter.integrated();
}

float truePeakLinear(std::span<const float> samples) {
    if (samples.empty()) return 0.0f;
    float peak = vec::maxMagnitude(samples.data(), samples.size());
    loudness_kernels::BlockWalker walker(samples);
    while (walker.next()) peak = std::max(peak, loudness_kernels::interpolatedPeak(walker.padded(), walker.length()));
    return peak;
}

float truePeakLinear(const AudioData& audio) {
    const float left = truePeakLinear(audio.left.span());
    if (audio.right.sharesStorageWith(audio.left)) return left;
    return std::max(left, truePeakLinear(audio.right.span()));
}

float samplePeakLinear(const AudioData& audio) {
    const float left = channelPeak(audio.left);
    if (audio.right.sharesStorageWith(audio.left)) return left;
    return std::max(left, channelPeak(audio.right));
}

std::optional<float> normalizationGain(const AudioData& audio, double targetLUFS) {
    const std::optional<double> loudness = integrated(audio);
    if (!loudness) return std::nullopt;
    const double peak = samplePeakLinear(audio);
    double gain = std::pow(10.0, (targetLUFS - *loudness) / 20.0);
    if (gain * peak > kMinusOneDBFS) gain = kMinusOneDBFS / peak;
    const float result = static_cast<float>(gain);
    // A target that is not a number gives no gain rather than a gain that wipes the audio.
    if (!std::isfinite(result)) return std::nullopt;
    return result;
}

std::optional<float> peakNormalizationFactor(float peak) {
    if (!(peak > 0.0f)) return std::nullopt;
    const float factor = kMinusOneDBFSFloat / peak;
    if (!std::isfinite(factor)) return std::nullopt;
    return factor;
}

AudioData scaled(const AudioData& audio, float factor) {
    if (factor == 1.0f) return audio;
    auto scale = [factor](const SharedArray<float>& channel) {
        std::vector<float> out = vec::zeros(channel.size());
        const float* in = channel.data();
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = in[i] * factor;
        return SharedArray<float>(std::move(out));
    };
    SharedArray<float> left = scale(audio.left);
    // Mono material keeps sharing one array between its channels.
    SharedArray<float> right = audio.right.sharesStorageWith(audio.left) ? left : scale(audio.right);
    return AudioData(std::move(left), std::move(right));
}

AudioData normalize(const AudioData& audio, LoudnessTarget target, std::optional<double> measuredLoudness) {
    if (audio.empty() || target == LoudnessTarget::none) return audio;
    if (target == LoudnessTarget::peak) {
        const std::optional<float> factor = peakNormalizationFactor(samplePeakLinear(audio));
        return factor ? scaled(audio, *factor) : audio;
    }
    const double lufs = *targetLUFS(target);
    const double ceiling = *truePeakCeiling(target);
    const std::optional<double> loudness = measuredLoudness ? measuredLoudness : integrated(audio);
    // A measured value that is not a number would scale the audio to noise: leave it unchanged.
    if (!loudness || !std::isfinite(*loudness)) return audio;
    const double gainDB = lufs - *loudness;
    const float factor = static_cast<float>(std::pow(10.0, gainDB / 20.0));
    if (!std::isfinite(factor)) return audio;
    AudioData out = scaled(audio, factor);
    // The peak a player reconstructs decides, not the 4x meter's reading, which is lower.
    const double predicted = gainDB + decibels(reconstruction_peak::peakLinear(audio));
    if (predicted > ceiling) return limited(out, ceiling);
    return out;
}

AudioData limited(const AudioData& audio, double ceilingDBTP) {
    AudioData out = TruePeakLimiter::apply(audio, ceilingDBTP, 0.0015, 0.08);
    const double peak = decibels(reconstruction_peak::peakLinear(out));
    if (ceilingDBTP < peak) out = scaled(out, static_cast<float>(std::pow(10.0, (ceilingDBTP - peak - 0.05) / 20.0)));
    return out;
}

std::string label(std::optional<double> lufs, std::optional<double> truePeak) {
    auto text = [](std::optional<double> value) -> std::string {
        if (!value || !std::isfinite(*value)) return "−∞";
        std::string raw = num::fixed(*value, 1);
        std::string out;
        for (char c : raw) {
            if (c == '-') out += "−";
            else out += c;
        }
        return out;
    };
    return text(lufs) + " LUFS, " + text(truePeak) + " dBTP";
}

}  // namespace Loudness

// Transposed direct form II, both filters, left and right side by side in one pass; the
// states are flushed to zero at hop ends once they fall under the floor.
void LoudnessMeter::add(const float* left, const float* right, std::size_t frames) {
    const std::size_t n = frames_ + frames;
    v2d s1 = s1_, s2 = s2_, h1 = h1_, h2 = h2_, sum = sum_;
    std::size_t i = frames_;
    while (i < n) {
        const std::size_t end = std::min(n, i + (kHop - i % kHop));
        for (; i < end; ++i) {
            const std::size_t j = i - frames_;
            const v2d x = {static_cast<double>(left[j]), static_cast<double>(right[j])};
            const v2d y = kShelf.b0 * x + s1;
            s1 = kShelf.b1 * x - kShelf.a1 * y + s2;
            s2 = kShelf.b2 * x - kShelf.a2 * y;
            const v2d z = kHighPass.b0 * y + h1;
            h1 = kHighPass.b1 * y - kHighPass.a1 * z + h2;
            h2 = kHighPass.b2 * y - kHighPass.a2 * z;
            sum += z * z;
        }
        if (end % kHop == 0) {
            hops_.push_back(sum[0] + sum[1]);
            total_ += sum;
            sum = v2d{};
            for (v2d* state : {&s1, &s2, &h1, &h2})
                for (int c = 0; c < 2; ++c)
                    if (std::fabs((*state)[c]) < kStateFloor) (*state)[c] = 0.0;
        }
    }
    s1_ = s1, s2_ = s2, h1_ = h1, h2_ = h2, sum_ = sum;
    frames_ = n;
}

std::optional<double> LoudnessMeter::integrated() const {
    const v2d total = total_ + sum_;
    return gatedLoudness(hops_, total[0] + total[1], frames_);
}

TruePeakMeter::TruePeakMeter(PeakInterpolation interpolation)
    : interpolation_(interpolation),
      before_(interpolation == PeakInterpolation::truePeak ? loudness_kernels::kBefore : reconstruction_peak::kBefore),
      after_(interpolation == PeakInterpolation::truePeak ? loudness_kernels::kAfter : reconstruction_peak::kAfter),
      pending_(before_, 0.0f) {}

// Measures the first `positions` pending samples and the values after them; the samples before
// the next position stay as its left context.
void TruePeakMeter::consume(std::size_t positions) {
    peak_ = interpolation_ == PeakInterpolation::truePeak
                ? std::max(peak_, loudness_kernels::interpolatedPeak(pending_.data(), positions))
                : reconstruction_peak::blockPeak(pending_.data(), positions, peak_);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(positions));
}

void TruePeakMeter::follow(const float* samples, std::size_t frames) {
    const std::size_t n = std::min(frames, before_);
    std::copy(samples + frames - n, samples + frames, pending_.end() - static_cast<std::ptrdiff_t>(n));
}

void TruePeakMeter::add(const float* samples, std::size_t frames) {
    if (frames == 0) return;
    peak_ = std::max(peak_, vec::maxMagnitude(samples, frames));
    pending_.insert(pending_.end(), samples, samples + frames);
    // Whole groups of eight positions whose taps all lie among the samples already here: the
    // interpolation reads nothing beyond them.
    const std::size_t context = before_ + after_;
    if (pending_.size() > context + 8) consume((pending_.size() - context) / 8 * 8);
}

float TruePeakMeter::finish() {
    const std::size_t positions = pending_.size() - before_;
    if (positions > 0) {
        // Zeros after the channel, and room for the last group of eight.
        pending_.resize(pending_.size() + after_ + 8, 0.0f);
        consume(positions);
    }
    pending_.assign(before_, 0.0f);
    return peak_;
}

LoudnessMeasurement::LoudnessMeasurement(const AudioData& audio)
    : lufs(Loudness::integrated(audio)),
      truePeak(Loudness::decibels(Loudness::truePeakLinear(audio))),
      samplePeak(Loudness::decibels(Loudness::samplePeakLinear(audio))) {}

}  // namespace tessoral
