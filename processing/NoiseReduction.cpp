#include "processing/NoiseReduction.h"

#include <algorithm>
#include <cmath>

#include "processing/FFT.h"

namespace tessoral::NoiseReduction {

namespace {

constexpr int kHop = kFrameLength / 4;
constexpr int kHalf = kFrameLength / 2;

}  // namespace

std::vector<float> averageSpectrum(std::span<const float> channel) {
    std::vector<float> result(kBins, 0.0f);
    if (channel.size() < static_cast<std::size_t>(kFrameLength)) return result;

    FFT fft(kFrameLength);
    const std::vector<float> window = FFT::hann(kFrameLength);
    std::vector<float> frame(kFrameLength), re(kHalf), im(kHalf), mags(kBins);
    std::vector<double> sum(kBins, 0.0);
    std::size_t frames = 0;
    for (std::size_t p = 0; p + kFrameLength <= channel.size(); p += kHop) {
        for (int i = 0; i < kFrameLength; ++i) frame[i] = channel[p + i] * window[i];
        fft.forward(frame, re, im);
        fft.magnitudes(re, im, mags);
        for (int b = 0; b < kBins; ++b) sum[b] += mags[b];
        ++frames;
    }
    for (int b = 0; b < kBins; ++b) result[b] = static_cast<float>(sum[b] / static_cast<double>(frames));
    return result;
}

std::vector<float> process(std::span<const float> samples, std::span<const float> noise, float strength) {
    const std::size_t count = samples.size();
    if (count == 0 || noise.size() < static_cast<std::size_t>(kBins)) {
        return std::vector<float>(samples.begin(), samples.end());
    }

    const float s = std::isnan(strength) ? 1.0f : std::clamp(strength, 0.05f, 1.0f);
    const float overSubtraction = 1.2f + 1.8f * s;
    const float floorGain = static_cast<float>(std::pow(10.0, -(24.0 * s + 6.0) / 20.0));

    FFT fft(kFrameLength);
    const std::vector<float> window = FFT::hann(kFrameLength);

    // 2048 zeros, the samples, 2048 zeros: every sample lies under four frames.
    const std::size_t padded = count + 2 * kFrameLength;
    std::vector<float> input(padded, 0.0f);
    std::copy(samples.begin(), samples.end(), input.begin() + kFrameLength);
    std::vector<float> out(padded, 0.0f);

    std::vector<float> frame(kFrameLength), re(kHalf), im(kHalf), mags(kBins);
    std::vector<float> gain(kBins), smoothed(kBins), previous(kBins, 1.0f);

    for (std::size_t p = 0; p + kFrameLength <= padded; p += kHop) {
        const float* src = input.data() + p;
        for (int i = 0; i < kFrameLength; ++i) frame[i] = src[i] * window[i];
        fft.forward(frame, re, im);
        fft.magnitudes(re, im, mags);

        for (int b = 0; b < kBins; ++b) {
            const float raw = 1.0f - overSubtraction * noise[b] / std::max(mags[b], 1e-9f);
            // A NaN raw gain (a non-finite print) gives the floor.
            const float gated = std::isnan(raw) ? floorGain : std::max(raw, floorGain);
            gain[b] = 0.3f * previous[b] + 0.7f * gated;
        }
        // Smoothing across frequency, always from the unsmoothed gains.
        smoothed[0] = gain[0];
        smoothed[kBins - 1] = gain[kBins - 1];
        for (int b = 1; b < kBins - 1; ++b) smoothed[b] = (gain[b - 1] + gain[b] + gain[b + 1]) / 3.0f;

        // Real gains: the phase is left as it is.
        re[0] *= smoothed[0];
        im[0] *= smoothed[kBins - 1];
        for (int b = 1; b < kHalf; ++b) {
            re[b] *= smoothed[b];
            im[b] *= smoothed[b];
        }
        fft.inverse(re, im, frame);
        float* dst = out.data() + p;
        for (int i = 0; i < kFrameLength; ++i) dst[i] += frame[i] * window[i];

        std::swap(previous, gain);
    }

    // The squared Hann windows at a quarter hop sum to 1.5.
    std::vector<float> result(count);
    const float* body = out.data() + kFrameLength;
    for (std::size_t i = 0; i < count; ++i) result[i] = body[i] * (2.0f / 3.0f);
    return result;
}

AudioData apply(const NoiseProfile& profile, const AudioData& audio, FrameRange range, double strength) {
    const std::int64_t total = audio.frames();
    const std::int64_t lo = range.lower;
    const std::int64_t hi = range.upper;
    if (lo < 0 || lo >= hi || hi > total) return audio;

    // Gate context beyond the selection on both sides.
    const std::int64_t from = std::max<std::int64_t>(lo - kFrameLength, 0);
    const std::int64_t to = std::min<std::int64_t>(hi + kFrameLength, total);
    // Clamped before narrowing so that no out-of-range double is converted to float.
    const float s = std::isnan(strength) ? 1.0f : static_cast<float>(std::clamp(strength, 0.05, 1.0));

    const std::int64_t len = hi - lo;
    const std::int64_t fade = std::min<std::int64_t>(len / 4, 256);

    auto channel = [&](const SharedArray<float>& original, const std::vector<float>& print) {
        const float* in = original.data();
        const std::vector<float> reduced =
            process(std::span<const float>(in + from, static_cast<std::size_t>(to - from)), print, s);
        std::vector<float> result = original.toVector();
        for (std::int64_t i = 0; i < len; ++i) {
            float a = reduced[static_cast<std::size_t>(lo - from + i)];
            const float dry = in[lo + i];
            if (lo > 0 && i < fade) {
                const float t = static_cast<float>(i) / static_cast<float>(fade);
                a = t * a + (1.0f - t) * dry;
            }
            if (hi < total && i >= len - fade) {
                const float t = static_cast<float>(len - 1 - i) / static_cast<float>(fade);
                a = t * a + (1.0f - t) * dry;
            }
            result[static_cast<std::size_t>(lo + i)] = a;
        }
        return result;
    };
    std::vector<float> left = channel(audio.left, profile.left);
    std::vector<float> right = channel(audio.right, profile.right);
    return AudioData(std::move(left), std::move(right));
}

}  // namespace tessoral::NoiseReduction
