#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "processing/EffectUnit.h"

namespace tessoral {

// The reverb unit: a feedback delay network with three factory presets and a wet/dry mix.
//
// Design (J.-M. Jot and A. Chaigne, "Digital delay networks for designing artificial
// reverberators", AES 90th Convention, 1991):
// - The mono sum of the input goes through a pre-delay and four Schroeder all-passes (gain 0.7,
//   6.9 … 13.9 ms) that thicken the first echoes.
// - Eight delay lines, 23 … 71 ms long times the preset's size factor, feed back through an 8×8
//   Hadamard matrix scaled by 1/√8 (orthogonal: the network alone is lossless).
// - Each line's loss is a one-pole low-pass g·(1 − b)/(1 − b·z⁻¹) whose gains at 0 Hz and at
//   24 kHz give the preset's decay times there: g = 10^(−3·d/(T₀·48000)) for a line of d frames,
//   and likewise for the high decay time. All gains are below 1, so the network is stable.
// - Left and right take the eight line outputs with two orthogonal sign patterns; the wet signal
//   is scaled so that its level on steady noise is near the dry level.
// - Output: (1 − mix)·dry + mix·wet, mix = percent / 100 clamped into 0 … 1.
//
// Factory presets (decay time measured broadband, by Schroeder backward integration of the impulse
// response, a straight line fitted from −5 to −35 dB and extended to −60 dB):
//
// | number | name         | size | pre-delay | T₀ (low) | T (high) | measured RT60 |
// |--------|--------------|------|-----------|----------|----------|---------------|
// | 1      | medium room  | 0.6  | 8 ms      | 0.9 s    | 0.35 s   | 0.5 … 1.1 s   |
// | 4      | large hall   | 1.2  | 20 ms     | 2.6 s    | 1.0 s    | 1.6 … 3.0 s   |
// | 8      | cathedral    | 1.8  | 35 ms     | 6.0 s    | 2.4 s    | 4.0 … 7.0 s   |
//
// Any other number loads the medium room.
class ReverbUnit final : public EffectUnit {
public:
    enum class FactoryPreset { mediumRoom = 1, largeHall = 4, cathedral = 8 };

    ReverbUnit();

    // Loads a factory preset and clears the unit's state.
    void loadFactoryPreset(int number);
    FactoryPreset factoryPreset() const { return preset_; }
    // Wet/dry mix in percent; a non-finite value keeps the previous one.
    void setWetDryMix(float percent);
    float wetDryMix() const { return mixPercent_; }

    void process(float* left, float* right, std::size_t frames) noexcept override;

    // process() in two halves over any number of frames, each carrying a state of its own, so
    // that two threads can run them on successive spans at once: diffuse() turns the input into
    // the network's input (the pre-delayed, diffused mono sum); network() turns that and the same
    // input into the output, in place. Both in order over the signal, diffuse() of a span first.
    void diffuse(const float* left, const float* right, double* mono, std::size_t frames) noexcept;
    void network(const double* mono, float* left, float* right, std::size_t frames) noexcept;

    // Frames rendered step by step together at most (each delay of the network is longer).
    static constexpr std::size_t kBlock = 64;

private:
    void diffuseBlock(const float* left, const float* right, double* mono, std::size_t frames) noexcept;
    void networkBlock(const double* mono, float* left, float* right, std::size_t frames) noexcept;

    struct Line {
        std::vector<float> buffer;
        std::size_t position = 0;
        double gain = 0.0;   // g
        double pole = 0.0;   // b
        double state = 0.0;  // the low-pass's last output
    };
    struct AllPass {
        std::vector<float> buffer;
        std::size_t position = 0;
    };

    FactoryPreset preset_ = FactoryPreset::mediumRoom;
    float mixPercent_ = 100.0f;
    std::vector<float> preDelay_;
    std::size_t preDelayPosition_ = 0;
    std::array<AllPass, 4> diffusers_;
    std::array<Line, 8> lines_;
    double wetScale_ = 1.0;
    std::size_t block_ = kBlock;  // kBlock, or the shortest delay when that is shorter
};

}  // namespace tessoral
