#include "processing/EQResponse.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "model/Frames.h"

namespace tessoral::EQResponse {

std::vector<double> logFrequencies(int n) {
    const int m = std::max(n, 2);
    std::vector<double> out(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) out[static_cast<std::size_t>(i)] = 20.0 * std::pow(1000.0, double(i) / (m - 1));
    return out;
}

std::vector<double> magnitudeDB(const std::vector<Biquad>& sections, const std::vector<double>& at) {
    std::vector<double> out(at.size(), 0.0);
    if (sections.empty()) return out;
    for (std::size_t i = 0; i < at.size(); ++i) {
        const double w = 2.0 * std::numbers::pi * at[i] / kSampleRate;
        const double c1 = std::cos(w), s1 = std::sin(w);
        const double c2 = std::cos(2 * w), s2 = std::sin(2 * w);
        // The sections' power ratios multiplied, with one logarithm per frequency (the logarithm
        // is the costly part); folded into the sum before the product could leave double's range.
        double sum = 0.0;
        double product = 1.0;
        for (const Biquad& s : sections) {
            // e^(−jw) = c1 − j·s1, e^(−2jw) = c2 − j·s2.
            const double nr = s.b0 + s.b1 * c1 + s.b2 * c2;
            const double ni = -(s.b1 * s1 + s.b2 * s2);
            const double dr = 1.0 + s.a1 * c1 + s.a2 * c2;
            const double di = -(s.a1 * s1 + s.a2 * s2);
            const double ratio = std::max((nr * nr + ni * ni) / std::max(dr * dr + di * di, 1e-30), 1e-30);
            product *= ratio;
            if (product < 1e-200 || product > 1e200) {
                sum += 10.0 * std::log10(product);
                product = 1.0;
            }
        }
        out[i] = sum + 10.0 * std::log10(product);
    }
    return out;
}

std::vector<double> magnitudeDB(EffectPreset preset, const EffectParams& params, const std::vector<double>& at) {
    return magnitudeDB(EQDesign::sections(preset, params), at);
}

}  // namespace tessoral::EQResponse
