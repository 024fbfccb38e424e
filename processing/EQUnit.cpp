#include "processing/EQUnit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "model/Frames.h"

namespace tessoral {

namespace {

Biquad normalised(double b0, double b1, double b2, double a0, double a1, double a2) {
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

bool usable(const EQUnit::Band& band) {
    return !band.bypass && std::isfinite(band.frequency) && std::isfinite(band.gain) &&
           std::isfinite(band.bandwidth);
}

}  // namespace

Biquad EQUnit::design(const Band& band) {
    if (!usable(band)) return {};
    const double f = clampTo(band.frequency, 10.0, 0.49 * kSampleRate);
    const double bw = clampTo(band.bandwidth, 0.01, 5.0);
    const double gain = clampTo(band.gain, -96.0, 24.0);
    const double w0 = 2.0 * std::numbers::pi * f / kSampleRate;
    const double s = std::sin(w0);
    const double c = std::cos(w0);
    const double alpha = s * std::sinh(std::numbers::ln2 / 2.0 * bw * w0 / s);
    const double A = std::pow(10.0, gain / 40.0);
    switch (band.filterType) {
        case FilterType::parametric:
            return normalised(1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A);
        case FilterType::lowPass:
            return normalised((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
        case FilterType::highPass:
            return normalised((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
        case FilterType::lowShelf: {
            const double k = 2 * std::sqrt(A) * alpha;
            return normalised(A * ((A + 1) - (A - 1) * c + k), 2 * A * ((A - 1) - (A + 1) * c),
                              A * ((A + 1) - (A - 1) * c - k), (A + 1) + (A - 1) * c + k,
                              -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - k);
        }
    }
    return {};
}

void EQUnit::setBand(std::size_t index, const Band& band) {
    if (index >= kBands) return;
    bands_[index] = band;
    sections_[index] = design(band);
    active_[index] = usable(band);
    left_[index] = {};
    right_[index] = {};
}

void EQUnit::process(float* left, float* right, std::size_t frames) noexcept {
    frames = std::min(frames, kMaxFrames);
    if (std::none_of(active_.begin(), active_.end(), [](bool a) { return a; })) return;
    double* bl = bufferLeft_.data();
    double* br = bufferRight_.data();
    for (std::size_t i = 0; i < frames; ++i) {
        bl[i] = left[i];
        br[i] = right[i];
    }
    for (std::size_t k = 0; k < kBands; ++k)
        if (active_[k]) runSection(sections_[k], left_[k], right_[k], bl, br, frames);
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = static_cast<float>(bl[i]);
        right[i] = static_cast<float>(br[i]);
    }
}

}  // namespace tessoral
