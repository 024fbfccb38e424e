#pragma once

#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/AudioData.h"
#include "model/LoudnessTarget.h"

namespace tessoral {

// One loudness measurement of a stereo clip.
struct LoudnessMeasurement {
    // Integrated loudness (ITU-R BS.1770, gated) in LUFS; none when it cannot be measured.
    std::optional<double> lufs;
    // True peak (4x oversampled) in dBTP; −∞ for silence or empty audio.
    double truePeak = -std::numeric_limits<double>::infinity();
    // Largest absolute sample of both channels in dBFS; −∞ for silence or empty audio.
    double samplePeak = -std::numeric_limits<double>::infinity();

    LoudnessMeasurement() = default;
    LoudnessMeasurement(std::optional<double> lufs, double truePeak, double samplePeak)
        : lufs(lufs), truePeak(truePeak), samplePeak(samplePeak) {}
    // Measures all three values of the audio.
    explicit LoudnessMeasurement(const AudioData& audio);

    friend bool operator==(const LoudnessMeasurement&, const LoudnessMeasurement&) = default;
};

// Loudness measurement and correction of 48 kHz stereo audio. Every function is pure and
// reentrant.
namespace Loudness {

// −1 dBFS as a linear factor, where a sample peak is set or capped.
inline constexpr double kMinusOneDBFS = 0.8912509381337456;
inline constexpr float kMinusOneDBFSFloat = 0.8912509f;

// Integrated loudness in LUFS (K-weighted, 400 ms blocks with 75 % overlap, absolute gate
// −70 LUFS, relative gate −10 LU). Clips shorter than one block are measured ungated over
// their whole length. None when empty, silent or entirely under the gates.
std::optional<double> integrated(const AudioData& audio);

// Linear true peak of one channel: the largest magnitude of the samples and of the values
// interpolated at the quarter positions between them; 0 for an empty channel.
float truePeakLinear(std::span<const float> samples);

// Largest linear true peak of the two channels.
float truePeakLinear(const AudioData& audio);

// Largest absolute sample of both channels; 0 for empty audio.
float samplePeakLinear(const AudioData& audio);

// The linear gain that brings the integrated loudness to `targetLUFS`, lowered so that the
// sample peak does not exceed −1 dBFS; none when the loudness cannot be measured.
std::optional<float> normalizationGain(const AudioData& audio, double targetLUFS);

// The factor that sets a sample peak of `peak` to −1 dBFS; none for a peak not above 0, and for
// one so small (subnormal) that the factor lies beyond single precision, where scaling would turn
// the samples into infinities and NaNs.
std::optional<float> peakNormalizationFactor(float peak);

// Both channels multiplied by the factor; the input itself when the factor is exactly 1.
AudioData scaled(const AudioData& audio, float factor);

// Normalisation to a target: `peak` sets the sample peak to −1 dBFS; a LUFS target sets the
// integrated loudness (using `measuredLoudness` instead of measuring when given) and limits
// the result to the target's true-peak ceiling when the gain would push the reconstructed peak
// (reconstruction_peak) above it.
// Empty, silent or unmeasurable audio and `none` come back unchanged.
AudioData normalize(const AudioData& audio, LoudnessTarget target,
                    std::optional<double> measuredLoudness = std::nullopt);

// True-peak limiting to `ceilingDBTP` (1.5 ms look-ahead, 80 ms release) with a final trim
// that leaves 0.05 dB of margin should the limiter overshoot. The ceiling holds for the peak a
// player reconstructs (reconstruction_peak), so the 4x meter reads the result a little lower.
AudioData limited(const AudioData& audio, double ceilingDBTP);

// "−16.0 LUFS, −1.3 dBTP": one decimal, U+2212 minus signs, "−∞" for an absent or
// non-finite value.
std::string label(std::optional<double> lufs, std::optional<double> truePeak);

// 20·log10 of a linear level; −∞ for 0 (and for anything not above 0).
double decibels(double linear);

}  // namespace Loudness

// The integrated loudness of a 48 kHz stereo signal handed over piece by piece; gives exactly
// what Loudness::integrated gives for the whole signal, keeping only one number per 100 ms.
class LoudnessMeter {
public:
    void add(const float* left, const float* right, std::size_t frames);
    std::optional<double> integrated() const;

private:
    typedef double v2d __attribute__((vector_size(16)));
    v2d s1_{}, s2_{}, h1_{}, h2_{}, sum_{}, total_{};
    std::vector<double> hops_;
    std::size_t frames_ = 0;
};

// How a peak meter looks between the samples: the 4x true-peak interpolation of the loudness
// measurement, or the finer one of reconstruction_peak, where a ceiling must hold.
enum class PeakInterpolation { truePeak, reconstruction };

// The true peak of one channel handed over piece by piece; gives exactly what
// Loudness::truePeakLinear (or reconstruction_peak::peakLinear) gives for the whole channel,
// keeping only the last few samples.
class TruePeakMeter {
public:
    explicit TruePeakMeter(PeakInterpolation interpolation = PeakInterpolation::truePeak);
    // For a stretch measured from within a channel: the samples just before its first one, of
    // which the last few are the context its first values are interpolated from (none of them
    // is measured). Call before add().
    void follow(const float* samples, std::size_t frames);
    void add(const float* samples, std::size_t frames);
    // The largest magnitude so far (the values interpolated after the last few samples wait
    // for the samples that follow them).
    float peak() const { return peak_; }
    // Ends the channel (zeros after it) and gives its true peak.
    float finish();

private:
    void consume(std::size_t positions);
    PeakInterpolation interpolation_;
    std::size_t before_;  // the samples an interpolated value reads before its position
    std::size_t after_;   // and after it
    std::vector<float> pending_;  // the samples before the first unmeasured position, then the rest
    float peak_ = 0.0f;
};

}  // namespace tessoral
