#include "processing/SpectralRepair.h"

#include <algorithm>
#include <cmath>

#include "model/Frames.h"
#include "processing/FFT.h"

namespace tessoral::SpectralRepair {

namespace {

constexpr int kHalf = kFrameLength / 2;  // 1024: the Nyquist bin
// Margin of the processed segment around the mask's time span: three frame lengths.
constexpr std::int64_t kMargin = 3 * kFrameLength;

double attenuationFloor(double dB) {
    const double used = std::isfinite(dB) ? clampTo(dB, 3.0, 60.0) : 40.0;
    return std::pow(10.0, -used / 20.0);
}

bool finite(const SpectralMask::Bounds& b) {
    return std::isfinite(b.time.lower) && std::isfinite(b.time.upper) && std::isfinite(b.frequency.lower) &&
           std::isfinite(b.frequency.upper);
}

// Magnitude of bin b of a packed spectrum.
float binMagnitude(const std::vector<float>& real, const std::vector<float>& imag, int b) {
    if (b == 0) return std::fabs(real[0]);
    if (b == kHalf) return std::fabs(imag[0]);
    const auto k = static_cast<std::size_t>(b);
    return std::sqrt(real[k] * real[k] + imag[k] * imag[k]);
}

void scaleBin(std::vector<float>& real, std::vector<float>& imag, int b, float gain) {
    if (b == 0) {
        real[0] *= gain;
    } else if (b == kHalf) {
        imag[0] *= gain;
    } else {
        real[static_cast<std::size_t>(b)] *= gain;
        imag[static_cast<std::size_t>(b)] *= gain;
    }
}

}  // namespace

std::vector<float> feather(std::span<const float> mask, std::int64_t frames, int bins) {
    if (frames <= 0 || bins <= 0) return {};
    const auto total = static_cast<std::size_t>(frames) * static_cast<std::size_t>(bins);
    std::vector<float> weights(total, 0.0f);
    if (mask.size() < total) return weights;
    const auto B = static_cast<std::size_t>(bins);
    for (std::int64_t j = 0; j < frames; ++j) {
        for (int i = 0; i < bins; ++i) {
            const std::size_t at = static_cast<std::size_t>(j) * B + static_cast<std::size_t>(i);
            if (!(mask[at] > 0.0f)) continue;
            float sum = 0.0f;
            for (std::int64_t fj = j - 1; fj <= j + 1; ++fj) {
                if (fj < 0 || fj >= frames) continue;
                for (int bi = i - 1; bi <= i + 1; ++bi) {
                    sum += (bi < 0 || bi >= bins) ? 1.0f : mask[static_cast<std::size_t>(fj) * B + static_cast<std::size_t>(bi)];
                }
            }
            weights[at] = std::max(sum / 9.0f, 0.5f);
        }
    }
    return weights;
}

std::vector<float> healTargets(std::span<const float> magnitudes, const Grid& grid, std::int64_t frames) {
    const int B = grid.binCount;
    if (frames <= 0 || B <= 0) return {};
    const auto total = static_cast<std::size_t>(frames) * static_cast<std::size_t>(B);
    std::vector<float> targets(total, 0.0f);
    if (magnitudes.size() < total || grid.weights.size() < total) return targets;

    const auto F = static_cast<std::size_t>(frames);
    std::vector<std::int64_t> prefix(F + 1);
    std::vector<char> clean(F);
    std::vector<std::int64_t> prev(F), next(F);
    auto at = [B](std::int64_t j, int i) { return static_cast<std::size_t>(j) * static_cast<std::size_t>(B) + static_cast<std::size_t>(i); };
    for (int i = 0; i < B; ++i) {
        prefix[0] = 0;
        for (std::int64_t j = 0; j < frames; ++j) {
            prefix[static_cast<std::size_t>(j) + 1] = prefix[static_cast<std::size_t>(j)] + (grid.weights[at(j, i)] > 0.0f ? 1 : 0);
        }
        if (prefix[F] == 0) continue;
        for (std::int64_t g = 0; g < frames; ++g) {
            const std::int64_t lo = std::max<std::int64_t>(g - 2, 0);
            const std::int64_t hi = std::min<std::int64_t>(g + 2, frames - 1);
            const bool valid = g >= grid.validLower && g < grid.validUpper;
            clean[static_cast<std::size_t>(g)] =
                valid && prefix[static_cast<std::size_t>(hi) + 1] - prefix[static_cast<std::size_t>(lo)] == 0;
        }
        std::int64_t last = -1;
        for (std::int64_t j = 0; j < frames; ++j) {
            if (clean[static_cast<std::size_t>(j)]) last = j;
            prev[static_cast<std::size_t>(j)] = last;
        }
        last = -1;
        for (std::int64_t j = frames - 1; j >= 0; --j) {
            if (clean[static_cast<std::size_t>(j)]) last = j;
            next[static_cast<std::size_t>(j)] = last;
        }
        for (std::int64_t j = 0; j < frames; ++j) {
            if (!(grid.weights[at(j, i)] > 0.0f)) continue;
            const std::int64_t p = prev[static_cast<std::size_t>(j)];
            const std::int64_t q = next[static_cast<std::size_t>(j)];
            double a = 0.0, b = 0.0;
            if (p >= 0) {
                a = magnitudes[at(p, i)];
                if (p - 1 >= 0 && clean[static_cast<std::size_t>(p - 1)]) a = (magnitudes[at(p, i)] + magnitudes[at(p - 1, i)]) / 2.0;
            }
            if (q >= 0) {
                b = magnitudes[at(q, i)];
                if (q + 1 < frames && clean[static_cast<std::size_t>(q + 1)]) b = (magnitudes[at(q, i)] + magnitudes[at(q + 1, i)]) / 2.0;
            }
            double target = 0.0;
            if (p >= 0 && q >= 0) {
                const double w = static_cast<double>(j - p) / static_cast<double>(std::max<std::int64_t>(q - p, 1));
                target = (1.0 - w) * a + w * b;
            } else if (p >= 0) {
                target = a;
            } else if (q >= 0) {
                target = b;
            }
            targets[at(j, i)] = static_cast<float>(target);
        }
    }
    return targets;
}

std::vector<float> process(std::span<const float> segment, const Grid& grid, const SpectralRepairMode& mode) {
    const std::size_t length = segment.size();
    const int B = grid.binCount;
    const std::size_t padded = length + 2 * kFrameLength;
    // Frames beyond the padded segment (a grid made for a longer segment) are not processed.
    const std::int64_t frames = std::clamp<std::int64_t>(grid.frameCount, 0, static_cast<std::int64_t>((padded - kFrameLength) / kHop + 1));
    const bool gridUsable = B > 0 && grid.firstBin >= 0 && grid.firstBin + B - 1 <= kHalf &&
                            grid.weights.size() >= static_cast<std::size_t>(frames) * static_cast<std::size_t>(B) &&
                            grid.activeFrames.size() >= static_cast<std::size_t>(frames);
    if (length == 0 || length > (std::size_t{1} << 40) || !gridUsable) return std::vector<float>(segment.begin(), segment.end());

    std::vector<float> input(padded, 0.0f);
    std::copy(segment.begin(), segment.end(), input.begin() + kFrameLength);
    std::vector<float> acc(padded, 0.0f);
    const std::vector<float> window = FFT::hann(kFrameLength);
    FFT fft(kFrameLength);
    std::vector<float> frame(kFrameLength), real(kHalf), imag(kHalf);
    const auto Bz = static_cast<std::size_t>(B);

    auto analyse = [&](std::int64_t j) {
        const float* src = input.data() + static_cast<std::size_t>(j) * kHop;
        for (int i = 0; i < kFrameLength; ++i) frame[static_cast<std::size_t>(i)] = src[i] * window[static_cast<std::size_t>(i)];
        fft.forward(frame, real, imag);
    };

    const bool healing = mode.kind == SpectralRepairMode::Kind::heal;
    std::vector<float> mags, targets;
    if (healing) {
        mags.assign(static_cast<std::size_t>(frames) * Bz, 0.0f);
        for (std::int64_t j = 0; j < frames; ++j) {
            analyse(j);
            for (int i = 0; i < B; ++i) {
                mags[static_cast<std::size_t>(j) * Bz + static_cast<std::size_t>(i)] = binMagnitude(real, imag, grid.firstBin + i);
            }
        }
        targets = healTargets(mags, grid, frames);
    }
    const double floor = attenuationFloor(mode.attenuationDB);

    for (std::int64_t j = 0; j < frames; ++j) {
        analyse(j);
        if (grid.activeFrames[static_cast<std::size_t>(j)]) {
            for (int i = 0; i < B; ++i) {
                const std::size_t at = static_cast<std::size_t>(j) * Bz + static_cast<std::size_t>(i);
                const double w = grid.weights[at];
                if (!(w > 0.0)) continue;
                double gain;
                if (healing) {
                    const double ratio = static_cast<double>(targets[at]) / std::max(static_cast<double>(mags[at]), 1e-9);
                    gain = (1.0 - w) + w * std::min(ratio, 8.0);
                } else {
                    gain = 1.0 - w * (1.0 - floor);
                }
                scaleBin(real, imag, grid.firstBin + i, static_cast<float>(gain));
            }
        }
        fft.inverse(real, imag, frame);
        float* dst = acc.data() + static_cast<std::size_t>(j) * kHop;
        for (int i = 0; i < kFrameLength; ++i) dst[i] += frame[static_cast<std::size_t>(i)] * window[static_cast<std::size_t>(i)];
    }

    std::vector<float> out(length);
    const float scale = 2.0f / 3.0f;
    for (std::size_t i = 0; i < length; ++i) out[i] = acc[kFrameLength + i] * scale;
    return out;
}

AudioData repair(AudioData audio, const SpectralMask& mask, const SpectralRepairMode& mode) {
    const std::int64_t n = audio.frames();
    if (n == 0 || static_cast<std::int64_t>(audio.right.size()) != n) return audio;
    const std::optional<SpectralMask::Bounds> extent = mask.extent();
    if (!extent || !finite(*extent)) return audio;

    // Time span in frames; the bounds are finite but may be far outside the clip, so every
    // conversion saturates.
    const std::int64_t start = truncSaturating(std::floor(std::max(extent->time.lower, -1.0) * kSampleRate));
    const std::int64_t s0 = std::max<std::int64_t>(start, 0);
    const std::int64_t end = std::min(n, truncSaturating(std::ceil(std::min(extent->time.upper, 100000.0) * kSampleRate)));
    if (s0 >= end || extent->frequency.upper < 0.0 || extent->frequency.lower > 24000.0) return audio;

    const auto lo = static_cast<int>(std::max(std::floor(extent->frequency.lower / kBinWidth), 0.0));
    const auto hi = static_cast<int>(std::min(std::ceil(extent->frequency.upper / kBinWidth), static_cast<double>(kHalf)));
    if (lo > hi) return audio;

    Grid grid;
    grid.firstBin = lo;
    grid.binCount = hi - lo + 1;
    const std::int64_t segStart = std::max<std::int64_t>(s0 - kMargin, 0);
    const std::int64_t segEnd = std::min(end + kMargin, n);
    const std::int64_t segLength = segEnd - segStart;
    const std::int64_t F = (segLength + kFrameLength) / kHop + 1;
    grid.frameCount = F;

    std::vector<double> frameTimes(static_cast<std::size_t>(F));
    for (std::int64_t j = 0; j < F; ++j) {
        frameTimes[static_cast<std::size_t>(j)] = static_cast<double>(segStart + kHop * j - kFrameLength / 2) / kSampleRate;
    }
    std::vector<double> binFrequencies(static_cast<std::size_t>(grid.binCount));
    for (int i = 0; i < grid.binCount; ++i) binFrequencies[static_cast<std::size_t>(i)] = (lo + i) * kBinWidth;

    const std::vector<float> cells = mask.rasterize(frameTimes, binFrequencies);
    grid.weights = feather(cells, F, grid.binCount);
    grid.activeFrames.assign(static_cast<std::size_t>(F), false);
    std::int64_t firstActive = -1, lastActive = -1;
    const auto B = static_cast<std::size_t>(grid.binCount);
    for (std::int64_t j = 0; j < F; ++j) {
        const float* row = grid.weights.data() + static_cast<std::size_t>(j) * B;
        if (std::any_of(row, row + B, [](float w) { return w > 0.0f; })) {
            grid.activeFrames[static_cast<std::size_t>(j)] = true;
            if (firstActive < 0) firstActive = j;
            lastActive = j;
        }
    }
    if (firstActive < 0) return audio;

    grid.validLower = F;
    grid.validUpper = 0;
    for (std::int64_t j = 0; j < F; ++j) {
        const std::int64_t centre = segStart + kHop * j - kFrameLength / 2;
        if (centre >= 0 && centre < n) {
            grid.validLower = std::min(grid.validLower, j);
            grid.validUpper = j + 1;
        }
    }

    const std::int64_t from = std::max(segStart + kHop * firstActive - kFrameLength, segStart);
    const std::int64_t to = std::min(segStart + kHop * lastActive, segEnd);
    if (from >= to) return audio;

    const auto segment = [&](const SharedArray<float>& channel) {
        return std::span<const float>(channel.data() + segStart, static_cast<std::size_t>(segLength));
    };
    const std::vector<float> left = process(segment(audio.left), grid, mode);
    const std::vector<float> right = process(segment(audio.right), grid, mode);

    // Copy-on-write: the samples are copied here only when another value still shares them.
    std::vector<float>& l = audio.left.mutableVector();
    std::vector<float>& r = audio.right.mutableVector();
    std::copy(left.begin() + (from - segStart), left.begin() + (to - segStart), l.begin() + from);
    std::copy(right.begin() + (from - segStart), right.begin() + (to - segStart), r.begin() + from);
    return audio;
}

}  // namespace tessoral::SpectralRepair
