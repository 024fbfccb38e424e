// Equaliser design checked against the analogue prototypes mapped by the bilinear transform,
// evaluated directly in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "model/EffectParameters.h"
#include "processing/EQDesign.h"
#include "processing/EQResponse.h"

using namespace tessoral;

namespace {

using cd = std::complex<double>;
constexpr double kRate = 48000.0;

// |H(e^jw)| in dB of an analogue prototype (s normalised to the band frequency) after the bilinear
// transform with the band frequency pre-warped: s = j·tan(w/2) / tan(w0/2).
double prototypeDB(EQBandKind kind, double f0, double q, double gainDB, double f) {
    const cd s(0.0, std::tan(std::numbers::pi * f / kRate) / std::tan(std::numbers::pi * f0 / kRate));
    const double A = std::pow(10.0, gainDB / 40.0), rA = std::sqrt(A);
    cd h;
    switch (kind) {
        case EQBandKind::lowPass: h = 1.0 / (s * s + s / q + 1.0); break;
        case EQBandKind::highPass: h = s * s / (s * s + s / q + 1.0); break;
        case EQBandKind::peak: h = (s * s + s * (A / q) + 1.0) / (s * s + s / (A * q) + 1.0); break;
        case EQBandKind::lowShelf: h = A * (s * s + (rA / q) * s + A) / (A * s * s + (rA / q) * s + 1.0); break;
        case EQBandKind::highShelf: h = A * (A * s * s + (rA / q) * s + 1.0) / (s * s + (rA / q) * s + A); break;
    }
    return 20 * std::log10(std::abs(h));
}

// The cascade's transfer function evaluated as one complex product.
double cascadeDB(const std::vector<Biquad>& sections, double f) {
    const cd z1 = std::polar(1.0, -2 * std::numbers::pi * f / kRate);
    cd h = 1.0;
    for (const Biquad& b : sections) h *= (b.b0 + b.b1 * z1 + b.b2 * z1 * z1) / (1.0 + b.a1 * z1 + b.a2 * z1 * z1);
    return 20 * std::log10(std::abs(h));
}

// Everything off except the named band.
EffectParams onlyBand(const std::string& id) {
    EffectParams p;
    for (const EQBandSpec& band : EQDesign::parametricBands()) p[band.id + ".on"] = band.id == id ? 1 : 0;
    return p;
}

}  // namespace

TEST(EQDesignTest, EachParametricBandMatchesItsPrototype) {
    struct Case { std::string id; EQBandKind kind; double f, q, g; };
    const std::vector<Case> cases = {
        {"hp", EQBandKind::highPass, 120, 0.707, 0},  {"ls", EQBandKind::lowShelf, 150, 0.5, 9},
        {"p1", EQBandKind::peak, 250, 2.5, -12},      {"p2", EQBandKind::peak, 1000, 0.3, 6},
        {"p3", EQBandKind::peak, 3000, 8, 18},        {"p4", EQBandKind::peak, 8000, 1, -18},
        {"hs", EQBandKind::highShelf, 6000, 0.9, -7}, {"lp", EQBandKind::lowPass, 9000, 3, 0},
    };
    const auto freqs = EQResponse::logFrequencies(301);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EffectParams p = onlyBand(c.id);
        p[c.id + ".f"] = c.f;
        p[c.id + ".q"] = c.q;
        p[c.id + ".g"] = c.g;  // ignored by the pass filters
        const auto sections = EQDesign::sections(EffectPreset::parametricEQ, p);
        ASSERT_EQ(sections.size(), 1u);
        const auto response = EQResponse::magnitudeDB(EffectPreset::parametricEQ, p, freqs);
        for (std::size_t i = 0; i < freqs.size(); ++i) {
            const double expected = prototypeDB(c.kind, c.f, c.q, c.g, freqs[i]);
            EXPECT_NEAR(response[i], expected, 1e-6) << freqs[i] << " Hz";
            EXPECT_NEAR(cascadeDB(sections, freqs[i]), expected, 1e-6) << freqs[i] << " Hz";
        }
    }
}

TEST(EQDesignTest, FullParametricCascadeIsTheSumOfItsBands) {
    EffectParams p;
    const double gains[] = {0, 4, -3, 5, -6, 2, 8, 0};
    int i = 0;
    for (const EQBandSpec& band : EQDesign::parametricBands()) {
        p[band.id + ".on"] = 1;
        if (band.kind != EQBandKind::highPass && band.kind != EQBandKind::lowPass) p[band.id + ".g"] = gains[i];
        ++i;
    }
    const auto sections = EQDesign::sections(EffectPreset::parametricEQ, p);
    ASSERT_EQ(sections.size(), 8u);
    const auto freqs = EQResponse::logFrequencies(200);
    const auto response = EQResponse::magnitudeDB(EffectPreset::parametricEQ, p, freqs);
    for (std::size_t k = 0; k < freqs.size(); ++k) {
        double expected = 0;
        int j = 0;
        for (const EQBandSpec& band : EQDesign::parametricBands())
            expected += prototypeDB(band.kind, band.frequency, band.q, gains[j++], freqs[k]);
        EXPECT_NEAR(response[k], expected, 1e-6) << freqs[k];
        EXPECT_NEAR(cascadeDB(sections, freqs[k]), expected, 1e-6) << freqs[k];
    }
}

TEST(EQDesignTest, GraphicBandsPeakAtTheirCentres) {
    EffectParams p;
    for (int i = 0; i < 10; ++i) p["g" + std::to_string(i)] = i % 2 ? -12 : 12;
    const auto sections = EQDesign::sections(EffectPreset::graphicEQ, p);
    ASSERT_EQ(sections.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        const double f0 = EQDesign::kGraphicFrequencies[i];
        const double g = i % 2 ? -12 : 12;
        // A single band: exactly its gain at its centre, the q = 1.41 prototype elsewhere.
        EXPECT_NEAR(cascadeDB({sections[static_cast<std::size_t>(i)]}, f0), g, 1e-9);
        for (double f : {f0 / 3, f0 * 1.2, 19000.0})
            EXPECT_NEAR(cascadeDB({sections[static_cast<std::size_t>(i)]}, f),
                        prototypeDB(EQBandKind::peak, f0, 1.41, g, f), 1e-6);
    }
    // Bands without gain are left out, in order.
    const auto two = EQDesign::sections(EffectPreset::graphicEQ, {{"g2", 3}, {"g7", 5e-7}, {"g9", -1}});
    ASSERT_EQ(two.size(), 2u);
    EXPECT_NEAR(cascadeDB({two[0]}, 125), 3, 1e-9);
    EXPECT_NEAR(cascadeDB({two[1]}, 16000), -1, 1e-9);
}

TEST(EQDesignTest, DefaultsAndReadLimits) {
    EXPECT_TRUE(EQDesign::sections(EffectPreset::parametricEQ, {}).empty());
    EXPECT_TRUE(EQDesign::sections(EffectPreset::graphicEQ, {}).empty());
    EXPECT_TRUE(EQDesign::sections(EffectPreset::voice, {{"presence", 8}}).empty());

    const auto hp = EQDesign::sections(EffectPreset::parametricEQ, {{"hp.on", 1}});
    ASSERT_EQ(hp.size(), 1u);
    EXPECT_NEAR(cascadeDB(hp, 40), 20 * std::log10(0.707), 1e-9);  // a pass filter's gain at f0 is q
    EXPECT_LT(cascadeDB(hp, 10), -20);

    // A stored frequency above 20 kHz is designed at 20 kHz; a q of 0.01 at 0.1.
    EXPECT_EQ(EQDesign::sections(EffectPreset::parametricEQ, {{"p4.g", 3}, {"p4.f", 30000}}),
              EQDesign::sections(EffectPreset::parametricEQ, {{"p4.g", 3}, {"p4.f", 20000}}));
    EXPECT_EQ(EQDesign::sections(EffectPreset::parametricEQ, {{"p4.g", 3}, {"p4.q", 0.01}}),
              EQDesign::sections(EffectPreset::parametricEQ, {{"p4.g", 3}, {"p4.q", 0.1}}));
    // A band turned off contributes nothing even with gain.
    EXPECT_TRUE(EQDesign::sections(EffectPreset::parametricEQ, {{"p1.on", 0.4}, {"p1.g", 6}}).empty());
}

TEST(EQResponseTest, FrequencyAxisAndFlatCurve) {
    EXPECT_EQ(EQResponse::logFrequencies(1), (std::vector<double>{20, 20000}));
    EXPECT_EQ(EQResponse::logFrequencies(-5).size(), 2u);
    const auto three = EQResponse::logFrequencies(3);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_NEAR(three[1], 20 * std::sqrt(1000.0), 1e-9);
    EXPECT_NEAR(three[2], 20000, 1e-9);

    EXPECT_EQ(EQResponse::magnitudeDB(EffectPreset::parametricEQ, {}, three), (std::vector<double>{0, 0, 0}));
    EXPECT_TRUE(EQResponse::magnitudeDB(EffectPreset::graphicEQ, {{"g1", 4}}, {}).empty());
    // A pass filter's zero is floored, not −∞.
    const auto atZero = EQResponse::magnitudeDB(EffectPreset::parametricEQ, {{"hp.on", 1}}, {0.0});
    EXPECT_TRUE(std::isfinite(atZero[0]));
    EXPECT_LT(atZero[0], -200);
}
