#include "processing/SpectralDynamics.h"

#include <algorithm>
#include <cmath>

#include "model/Frames.h"
#include "processing/FFT.h"

namespace tessoral::SpectralDynamics {

namespace {

constexpr int kFrameLength = 1024;
constexpr int kHalf = kFrameLength / 2;
constexpr int kHop = kFrameLength / 4;
constexpr double kBinWidth = 48000.0 / kFrameLength;  // 46.875 Hz
// The band's top bin: 224 × 46.875 = 10500 Hz.
constexpr int kTopBin = 224;

}  // namespace

std::vector<float> deessChannel(std::span<const float> samples, float sensitivity, float floor, double lowFrequency) {
    const std::size_t count = samples.size();
    if (count == 0) return {};

    // A lower edge outside 0 … 10546 Hz (or NaN) would index outside the band: clamp it in.
    const int lowBin = static_cast<int>(
        std::clamp<std::int64_t>(truncSaturating(lowFrequency / kBinWidth), 0, kTopBin));

    FFT fft(kFrameLength);
    const std::vector<float> window = FFT::hann(kFrameLength);
    const std::size_t padded = count + 2 * kFrameLength;
    std::vector<float> input(padded, 0.0f);
    std::copy(samples.begin(), samples.end(), input.begin() + kFrameLength);

    std::vector<float> frame(kFrameLength), re(kHalf), im(kHalf);
    auto analyse = [&](std::size_t p) {
        const float* src = input.data() + p;
        for (int i = 0; i < kFrameLength; ++i) frame[i] = src[i] * window[i];
        fft.forward(frame, re, im);
    };

    // First pass: the band level of every frame.
    const std::size_t frames = (padded - kFrameLength) / kHop + 1;
    std::vector<float> level(frames);
    double levelSum = 0.0;
    for (std::size_t f = 0; f < frames; ++f) {
        analyse(f * kHop);
        double energy = 0.0;
        for (int b = lowBin; b <= kTopBin; ++b) {
            // lowBin may be 0, whose packed value is the real DC term alone.
            const double m = b == 0 ? std::fabs(re[0]) : std::sqrt(double(re[b]) * re[b] + double(im[b]) * im[b]);
            energy += m * m;
        }
        level[f] = static_cast<float>(std::sqrt(energy));
        levelSum += level[f];
    }
    const float meanLevel = static_cast<float>(levelSum / static_cast<double>(frames));
    const float threshold = sensitivity * std::max(meanLevel, 1e-6f);

    // Band taper: 1/3 at the edge bins, 2/3 next to them, 1 inside.
    std::vector<float> weight(kTopBin + 1, 0.0f);
    for (int j = lowBin; j <= kTopBin; ++j) {
        const int d = std::min(j - lowBin, kTopBin - j);
        weight[j] = d < 2 ? static_cast<float>(d + 1) / 3.0f : 1.0f;
    }

    // Second pass: gain per frame, instant attack and smooth release.
    std::vector<float> out(padded, 0.0f);
    float previous = 1.0f;
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t p = f * kHop;
        analyse(p);
        const float target = level[f] > threshold ? std::max(floor, threshold / level[f]) : 1.0f;
        const float g = target < previous ? target : 0.75f * previous + 0.25f * target;
        if (g < 0.999f) {
            for (int j = lowBin; j <= kTopBin; ++j) {
                const float factor = 1.0f - (1.0f - g) * weight[j];
                // Bin 0's packed imaginary slot holds the Nyquist term, which is outside the band.
                re[j] *= factor;
                if (j != 0) im[j] *= factor;
            }
        }
        fft.inverse(re, im, frame);
        float* dst = out.data() + p;
        for (int i = 0; i < kFrameLength; ++i) dst[i] += frame[i] * window[i];
        previous = g;
    }

    std::vector<float> result(count);
    const float* body = out.data() + kFrameLength;
    for (std::size_t i = 0; i < count; ++i) result[i] = body[i] * (2.0f / 3.0f);
    return result;
}

}  // namespace tessoral::SpectralDynamics
