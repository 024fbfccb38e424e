#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "model/AudioData.h"
#include "model/EnumTraits.h"

namespace tessoral {

enum class ToneWaveform { sine, square, sawtooth, triangle };
enum class NoiseColor { white, pink, brown };

template <>
struct EnumTraits<ToneWaveform> {
    static constexpr std::array<std::pair<ToneWaveform, std::string_view>, 4> cases{{
        {ToneWaveform::sine, "sine"},
        {ToneWaveform::square, "square"},
        {ToneWaveform::sawtooth, "sawtooth"},
        {ToneWaveform::triangle, "triangle"},
    }};
};

template <>
struct EnumTraits<NoiseColor> {
    static constexpr std::array<std::pair<NoiseColor, std::string_view>, 3> cases{{
        {NoiseColor::white, "white"},
        {NoiseColor::pink, "pink"},
        {NoiseColor::brown, "brown"},
    }};
};

// Test signals as new 48 kHz stereo clips. Every function throws StudioError for a value out of range.
namespace SignalGenerator {

// The frame count of a duration in seconds: 1 … 23,040,000 (8 minutes).
std::int64_t frames(double duration);

// A band-limited tone (20 … 20000 Hz) whose largest sample is exactly the level (at most 0 dBFS,
// nothing below −120 dB); both channels hold the same samples.
AudioData tone(ToneWaveform waveform, double frequency, double levelDB, double duration);

// Noise at an RMS level per channel (at most 0 dBFS, nothing below −120 dB; samples beyond full
// scale are clipped). The channels are independent; the same seed gives the same samples.
AudioData noise(NoiseColor color, double levelDB, double duration, std::uint64_t seed);

}  // namespace SignalGenerator

}  // namespace tessoral
