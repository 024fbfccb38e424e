#pragma once

#include <array>
#include <cstddef>

#include "processing/EQDesign.h"
#include "processing/EffectUnit.h"

namespace tessoral {

// The four-band equaliser unit.
//
// Design: every band is one second-order section from the audio-EQ cookbook (R. Bristow-Johnson,
// "Cookbook formulae for audio EQ biquad filter coefficients") at 48 kHz, with the bandwidth given
// in octaves: w0 = 2π·f/48000, alpha = sin(w0)·sinh(ln 2 / 2 · BW · w0 / sin(w0)), A = 10^(gain/40).
// The bandwidth is that of the digital filter (the formula warps it), so a 0.08-octave notch is
// 0.08 octave wide at any frequency. Peaking sections reach exactly the band's gain at f; the
// low-pass and high-pass sections ignore the gain; the low shelf reaches the full gain far below f
// and half of it (in dB) at f. The sections run in band order in double precision (Direct Form I,
// both channels side by side, each sample through every section in turn, state kept across slices);
// bypassed bands are skipped and a unit with every band bypassed passes the signal through
// unchanged. The global gain is 0 dB.
//
// Parameters outside the usable range are brought into it: the frequency into 10 Hz … 23,520 Hz
// (0.49 of the rate), the bandwidth into 0.01 … 5 octaves, the gain into −96 … +24 dB; a band with
// a non-finite value acts as bypassed. Every section is then stable, so a finite input gives a
// finite output.
class EQUnit final : public EffectUnit {
public:
    // The filter type numbers of the unit's band types.
    enum class FilterType { parametric = 0, lowPass = 1, highPass = 2, lowShelf = 7 };

    struct Band {
        FilterType filterType = FilterType::parametric;
        double frequency = 1000.0;  // Hz
        double gain = 0.0;          // dB
        double bandwidth = 1.0;     // octaves
        bool bypass = true;
        friend bool operator==(const Band&, const Band&) = default;
    };

    static constexpr std::size_t kBands = 4;

    // Every band starts bypassed.
    EQUnit() = default;

    void setBand(std::size_t index, const Band& band);
    const Band& band(std::size_t index) const { return bands_[index]; }

    void process(float* left, float* right, std::size_t frames) noexcept override;
    // Whether any band changes the signal.
    bool active() const;

    // The section a band runs (identity for a bypassed or unusable band).
    static Biquad design(const Band& band);

    // Runs `count` sections (at most kBands) in a row, in place, over both channels of `frames`
    // frames held as interleaved doubles (left first), each channel carrying its history per
    // section: the samples runSection() gives section after section, computed as process() does.
    static void runSections(const Biquad* sections, BiquadHistory* left, BiquadHistory* right, std::size_t count,
                            double* pairs, std::size_t frames) noexcept;

private:
    std::array<Band, kBands> bands_{};
    std::array<Biquad, kBands> sections_{};
    std::array<bool, kBands> active_{};
    std::array<BiquadHistory, kBands> left_{}, right_{};
};

}  // namespace tessoral
