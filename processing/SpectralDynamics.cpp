#include "processing/SpectralDynamics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "model/Frames.h"
#include "processing/FFT.h"
#include "processing/FreshPages.h"

namespace tessoral::SpectralDynamics {

namespace {

constexpr int kFrameLength = 1024;
constexpr int kHalf = kFrameLength / 2;
constexpr int kHop = kFrameLength / 4;
constexpr double kBinWidth = 48000.0 / kFrameLength;  // 46.875 Hz
// The band's top bin: 224 × 46.875 = 10500 Hz.
constexpr int kTopBin = 224;

// Windows frame f into the transform's input and transforms it. Frame f covers samples
// f·kHop − kFrameLength … f·kHop − 1: the channel is framed as if a frame of silence stood on each
// side, so every sample lies under four whole frames.
inline void analyse(FFT& fft, const float* window, const float* x, std::int64_t n, std::size_t f) {
    float* frame = fft.samples();
    const std::int64_t start = static_cast<std::int64_t>(f * kHop) - kFrameLength;
    if (start >= 0 && start + kFrameLength <= n) {
        const float* src = x + start;
        for (int i = 0; i < kFrameLength; ++i) frame[i] = src[i] * window[i];
    } else {
        for (int i = 0; i < kFrameLength; ++i) {
            const std::int64_t t = start + i;
            frame[i] = t >= 0 && t < n ? x[t] * window[i] : 0.0f;
        }
    }
    fft.forwardInPlace();
}

}  // namespace

ChannelDeesser::ChannelDeesser(std::span<const float> samples, float sensitivity, float floor, double lowFrequency)
    : samples_(samples),
      sensitivity_(sensitivity),
      floor_(floor),
      // A lower edge outside 0 … 10546 Hz (or NaN) would index outside the band: clamp it in.
      lowBin_(static_cast<int>(std::clamp<std::int64_t>(truncSaturating(lowFrequency / kBinWidth), 0, kTopBin))),
      window_(FFT::hann(kFrameLength)),
      synthesis_(window_),
      weight_(kTopBin + 1, 0.0f),
      level_(framesFor(samples.size())) {
    // Band taper: 1/3 at the edge bins, 2/3 next to them, 1 inside.
    for (int j = lowBin_; j <= kTopBin; ++j) {
        const int d = std::min(j - lowBin_, kTopBin - j);
        weight_[j] = d < 2 ? static_cast<float>(d + 1) / 3.0f : 1.0f;
    }
    // Hann frames at a quarter hop overlap-add to 1.5 times the signal: 2/3 of it, and 1/n of the
    // unnormalised inverse, in the synthesis window.
    for (float& w : synthesis_) w *= 2.0f / (3.0f * static_cast<float>(kFrameLength));
}

void ChannelDeesser::measure(std::size_t first, std::size_t last) {
    last = std::min(last, frames());
    if (first >= last) return;
    FFT fft(kFrameLength);
    const float* bins = fft.bins();  // (re, im) pairs of the unnormalised transform
    const float* window = window_.data();
    const float* x = samples_.data();
    const auto n = static_cast<std::int64_t>(samples_.size());
    const int lowBin = lowBin_;
    float* level = level_.data();
    // On the doubled scale of FFT::forward (lowBin may be 0, whose value is the real DC term alone:
    // its imaginary part is 0).
    for (std::size_t f = first; f < last; ++f) {
        analyse(fft, window, x, n, f);
        double energy = 0.0;
        for (int b = lowBin; b <= kTopBin; ++b) {
            const double re = static_cast<double>(bins[2 * b]);
            const double im = static_cast<double>(bins[2 * b + 1]);
            energy += re * re + im * im;
        }
        level[f] = static_cast<float>(2.0 * std::sqrt(energy));
    }
}

std::size_t ChannelDeesser::framesFor(std::size_t samples) {
    return samples == 0 ? 0 : (samples + kFrameLength) / kHop + 1;
}

// Frame f reads samples before f·kHop (see analyse()).
std::size_t ChannelDeesser::measuredEnd(std::size_t samples, std::size_t last) {
    return last == 0 ? 0 : std::min(samples, (last - 1) * kHop);
}

void ChannelDeesser::copyInput() { out_ = FreshPages::copied(samples_); }

void ChannelDeesser::useOutput(std::vector<float> out) {
    if (out.size() != samples_.size()) throw std::invalid_argument("ChannelDeesser::useOutput: wrong length");
    out_ = std::move(out);
}

void ChannelDeesser::copyInput(std::size_t begin, std::size_t end) {
    end = std::min(end, out_.size());
    if (begin < end) std::copy(samples_.begin() + begin, samples_.begin() + end, out_.begin() + begin);
}

void ChannelDeesser::settle() {
    const std::size_t frames = level_.size();
    if (frames == 0) return;
    // Summed in frame order, whichever threads measured the levels.
    double levelSum = 0.0;
    for (std::size_t f = 0; f < frames; ++f) levelSum += level_[f];
    const float meanLevel = static_cast<float>(levelSum / static_cast<double>(frames));
    const float threshold = sensitivity_ * std::max(meanLevel, 1e-6f);
    // Instant attack and smooth release.
    gain_.resize(frames);
    float previous = 1.0f;
    for (std::size_t f = 0; f < frames; ++f) {
        const float target = level_[f] > threshold ? std::max(floor_, threshold / level_[f]) : 1.0f;
        const float g = target < previous ? target : 0.75f * previous + 0.25f * target;
        previous = g;
        gain_[f] = g;
    }
}

void ChannelDeesser::render(std::size_t begin, std::size_t end) {
    end = std::min(end, samples_.size());
    if (begin >= end) return;
    // A frame that keeps its band adds back exactly what it took, so the output starts as the input
    // and only a frame turned down is transformed again: the part of its band it loses is taken
    // away from the output. The frames overlapping begin … end − 1 are those with
    // begin < f·kHop and f·kHop − kFrameLength < end.
    const std::size_t first = begin / kHop + 1;
    const std::size_t last = std::min(frames(), (end + kFrameLength - 1) / kHop + 1);
    FFT fft(kFrameLength);
    float* frame = fft.samples();
    float* bins = fft.bins();
    const float* window = window_.data();
    const float* synthesis = synthesis_.data();
    const float* weight = weight_.data();
    const float* x = samples_.data();
    const auto n = static_cast<std::int64_t>(samples_.size());
    const int lowBin = lowBin_;
    float* out = out_.data();
    const auto from = static_cast<std::int64_t>(begin), to = static_cast<std::int64_t>(end);
    for (std::size_t f = first; f < last; ++f) {
        const float g = gain_[f];
        if (!(g < 0.999f)) continue;
        analyse(fft, window, x, n, f);
        std::fill(bins, bins + 2 * lowBin, 0.0f);
        std::fill(bins + 2 * (kTopBin + 1), bins + 2 * (kHalf + 1), 0.0f);
        for (int j = lowBin; j <= kTopBin; ++j) {
            const float cut = (1.0f - g) * weight[j];
            bins[2 * j] *= cut;
            bins[2 * j + 1] *= cut;
        }
        fft.inverseInPlace();
        const std::int64_t start = static_cast<std::int64_t>(f * kHop) - kFrameLength;
        const int lo = static_cast<int>(std::max<std::int64_t>(from - start, 0));
        const int hi = static_cast<int>(std::min<std::int64_t>(to - start, kFrameLength));
        for (int i = lo; i < hi; ++i) out[start + i] -= frame[i] * synthesis[i];
    }
}

std::size_t ChannelDeesser::partStart(std::size_t total, std::size_t count, std::size_t index) {
    return count == 0 ? 0 : total / count * index + std::min(index, total % count);
}

std::vector<float> deessChannel(std::span<const float> samples, float sensitivity, float floor, double lowFrequency) {
    if (samples.empty()) return {};
    ChannelDeesser deesser(samples, sensitivity, floor, lowFrequency);
    deesser.measure(0, deesser.frames());
    deesser.copyInput();
    deesser.settle();
    deesser.render(0, deesser.size());
    return deesser.take();
}

}  // namespace tessoral::SpectralDynamics
