#include "processing/EQDesign.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <numbers>

#include "model/Frames.h"
#include "model/NumberFormat.h"
#include "model/TextJoin.h"

namespace tessoral::EQDesign {

namespace {

struct Terms {
    double cosw;
    double alpha;
    double A;
};

// Design frequencies stay between 1 Hz and 0.49 of the sample rate.
double designFrequency(double f) {
    if (!(f >= 1.0)) return 1.0;
    return std::min(f, 23520.0);
}

Terms terms(double frequency, double alpha0Divisor, double gainDB) {
    const double w0 = 2.0 * std::numbers::pi * designFrequency(frequency) / kSampleRate;
    return {std::cos(w0), std::sin(w0) / alpha0Divisor, std::pow(10.0, gainDB / 40.0)};
}

Biquad normalised(double b0, double b1, double b2, double a0, double a1, double a2) {
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

Biquad peaking(const Terms& t) {
    const auto [c, alpha, A] = t;
    return normalised(1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A);
}

Biquad design(EQBandKind kind, const Terms& t) {
    const auto [c, alpha, A] = t;
    switch (kind) {
        case EQBandKind::highPass:
            return normalised((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
        case EQBandKind::lowPass:
            return normalised((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
        case EQBandKind::peak:
            return peaking(t);
        case EQBandKind::lowShelf: {
            const double s = 2 * std::sqrt(A) * alpha;
            return normalised(A * ((A + 1) - (A - 1) * c + s), 2 * A * ((A - 1) - (A + 1) * c),
                              A * ((A + 1) - (A - 1) * c - s), (A + 1) + (A - 1) * c + s,
                              -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - s);
        }
        case EQBandKind::highShelf: {
            const double s = 2 * std::sqrt(A) * alpha;
            return normalised(A * ((A + 1) + (A - 1) * c + s), -2 * A * ((A - 1) + (A + 1) * c),
                              A * ((A + 1) + (A - 1) * c - s), (A + 1) - (A - 1) * c + s,
                              2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - s);
        }
    }
    return {};
}

bool hasGain(EQBandKind kind) {
    return kind == EQBandKind::lowShelf || kind == EQBandKind::peak || kind == EQBandKind::highShelf;
}

// One cookbook section: frequency in Hz, quality q, gain in dB (ignored by high- and low-pass).
Biquad section(EQBandKind kind, double frequency, double q, double gainDB) {
    const double qq = std::isnan(q) ? 0.05 : std::max(q, 0.05);
    return design(kind, terms(frequency, 2.0 * qq, hasGain(kind) ? gainDB : 0.0));
}

}  // namespace

std::vector<Biquad> sections(EffectPreset preset, const EffectParams& params) {
    std::vector<Biquad> out;
    if (preset == EffectPreset::parametricEQ) {
        for (const EQBandSpec& band : parametricBands()) {
            if (value(preset, joined(band.id, ".on"), params) < 0.5) continue;
            double gain = 0.0;
            if (hasGain(band.kind)) {
                gain = value(preset, joined(band.id, ".g"), params);
                if (std::fabs(gain) < 1e-6) continue;
            }
            const double f = value(preset, joined(band.id, ".f"), params);
            const double q = value(preset, joined(band.id, ".q"), params);
            out.push_back(section(band.kind, f, q, gain));
        }
    } else if (preset == EffectPreset::graphicEQ) {
        for (int i = 0; i < 10; ++i) {
            const double gain = value(preset, joined("g", num::integer(i)), params);
            if (std::fabs(gain) < 1e-6) continue;
            out.push_back(peaking(terms(kGraphicFrequencies[i], 2.82, gain)));
        }
    }
    return out;
}

}  // namespace tessoral::EQDesign
