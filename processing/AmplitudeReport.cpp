#include "processing/AmplitudeReport.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

#include "model/Frames.h"
#include "model/VectorOps.h"
#include "processing/FFT.h"
#include "processing/Loudness.h"

namespace tessoral {

namespace {

constexpr int kSize = 8192;
constexpr int kHalf = kSize / 2;
constexpr int kMaxWindows = 64;

// Mean over the windows and both channels of (|X[b]| / 4096)², bins 0 … 4096. Empty when the
// transform cannot be set up: the report then carries everything but the spectrum.
std::vector<double> averagedPower(const AudioData& audio) {
    const std::int64_t n = audio.frames();
    std::optional<FFT> fft;
    try {
        fft.emplace(kSize);
    } catch (const std::bad_alloc&) {
        return {};
    } catch (const std::invalid_argument&) {
        return {};
    }
    const std::vector<float> window = FFT::hann(kSize);

    const std::int64_t windows = n < kHalf ? 1 : std::min<std::int64_t>(n / kHalf, kMaxWindows);
    const std::int64_t span = std::max<std::int64_t>(n - kSize, 0);
    const double scale = 1.0 / (2.0 * static_cast<double>(windows));

    std::vector<double> power(kHalf + 1, 0.0);
    std::vector<float> frame(kSize), real(kHalf), imag(kHalf), magnitudes(kHalf + 1);
    for (std::int64_t i = 0; i < windows; ++i) {
        const std::int64_t start =
            windows == 1 ? 0
                         : truncSaturating(static_cast<double>(i) / static_cast<double>(windows - 1) *
                                           static_cast<double>(span));
        const auto count = static_cast<std::size_t>(std::clamp<std::int64_t>(n - start, 0, kSize));
        for (const SharedArray<float>* channel : {&audio.left, &audio.right}) {
            const std::size_t available =
                std::min(count, static_cast<std::size_t>(std::max<std::int64_t>(
                                    static_cast<std::int64_t>(channel->size()) - start, 0)));
            const float* x = channel->data() + start;
            for (std::size_t k = 0; k < available; ++k) frame[k] = x[k] * window[k];
            std::fill(frame.begin() + static_cast<std::ptrdiff_t>(available), frame.end(), 0.0f);
            fft->forward(frame, real, imag);
            fft->magnitudes(real, imag, magnitudes);
            for (int b = 0; b <= kHalf; ++b) {
                const double m = static_cast<double>(magnitudes[static_cast<std::size_t>(b)]) / kHalf;
                power[static_cast<std::size_t>(b)] += m * m * scale;
            }
        }
    }
    return power;
}

std::vector<double> bands(const std::vector<double>& power) {
    std::vector<double> levels(AmplitudeReport::kBands);
    for (int i = 0; i < AmplitudeReport::kBands; ++i) {
        const double fLo = 20.0 * std::pow(1000.0, static_cast<double>(i) / AmplitudeReport::kBands);
        const double fHi = 20.0 * std::pow(1000.0, static_cast<double>(i + 1) / AmplitudeReport::kBands);
        const std::int64_t lo =
            std::min<std::int64_t>(std::max<std::int64_t>(truncSaturating(std::floor(fLo * kSize / 48000.0)), 1), kHalf);
        const std::int64_t hi = std::min<std::int64_t>(
            std::max<std::int64_t>(lo + 1, truncSaturating(std::floor(fHi * kSize / 48000.0))), kHalf + 1);
        double value = 0.0;
        for (std::int64_t b = lo; b < hi; ++b) value = std::max(value, power[static_cast<std::size_t>(b)]);
        levels[static_cast<std::size_t>(i)] = std::max(10.0 * std::log10(std::max(value, 1e-11)), -110.0);
    }
    return levels;
}

}  // namespace

AmplitudeReport AmplitudeReport::analyze(const AudioData& audio) {
    AmplitudeReport report;
    const std::int64_t n = audio.frames();
    if (n == 0) {
        report.peak = -std::numeric_limits<double>::infinity();
        report.rms = -std::numeric_limits<double>::infinity();
        return report;
    }

    // A clip always holds as many right frames as left ones; read no further than the right has.
    const auto nRight = std::min<std::size_t>(static_cast<std::size_t>(n), audio.right.size());
    const float* l = audio.left.data();
    const float* r = audio.right.data();
    std::int64_t clipped = 0;
    double squares = 0.0, sum = 0.0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        const double x = l[i];
        const double y = i < nRight ? r[i] : 0.0;
        clipped += (std::fabs(x) >= 1.0) + (std::fabs(y) >= 1.0);
        squares += x * x + y * y;
        sum += x + y;
    }
    const float p = std::max(vec::maxMagnitude(l, static_cast<std::size_t>(n)), vec::maxMagnitude(r, nRight));
    const double count = 2.0 * static_cast<double>(n);
    report.peak = 20.0 * std::log10(std::max(static_cast<double>(p), 1e-12));
    report.rms = 10.0 * std::log10(std::max(squares / count, 1e-24));
    report.dcOffset = sum / count;
    report.clippedSamples = clipped;
    report.lufs = Loudness::integrated(audio);

    const std::vector<double> power = averagedPower(audio);
    if (!power.empty()) report.spectrum = bands(power);
    return report;
}

}  // namespace tessoral
