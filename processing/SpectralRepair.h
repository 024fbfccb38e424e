#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "model/AudioData.h"
#include "processing/SpectralMask.h"

namespace tessoral {

// What spectral repair does to the masked cells.
struct SpectralRepairMode {
    enum class Kind { attenuate, heal };
    Kind kind = Kind::attenuate;
    // attenuate only: dB, used clamped to 3 … 60 (non-finite: 40).
    double attenuationDB = 40.0;

    static SpectralRepairMode attenuate(double dB) { return {Kind::attenuate, dB}; }
    static SpectralRepairMode heal() { return {Kind::heal, 0.0}; }
    friend bool operator==(const SpectralRepairMode&, const SpectralRepairMode&) = default;
};

// Changes a clip only inside a painted time-frequency area: 2048-point Hann frames at a 512-frame
// hop, real gains per bin (phase untouched), overlap-add.
namespace SpectralRepair {

inline constexpr int kFrameLength = 2048;
inline constexpr int kHop = 512;
inline constexpr double kBinWidth = 48000.0 / kFrameLength;  // 23.4375 Hz

// The processed part of the time-frequency plane: F frames of the segment × B bins from firstBin.
struct Grid {
    std::int64_t frameCount = 0;
    int firstBin = 0;
    int binCount = 0;
    // F × B feathered weights, frame-major: 0 untouched, otherwise 0.5 … 1.
    std::vector<float> weights;
    // Per frame: any weight above 0.
    std::vector<bool> activeFrames;
    // Frames whose centre sample lies inside the clip: the only clean references for healing.
    std::int64_t validLower = 0;
    std::int64_t validUpper = 0;
};

// New audio of the same length in which only the samples under frames the mask touches differ.
// Returns the input when there is nothing to do. The audio is taken by value: a caller that moves
// in the only reference to its samples has them repaired in place, at a cost that follows the
// masked region rather than the clip; otherwise the channels are copied once.
AudioData repair(AudioData audio, const SpectralMask& mask, const SpectralRepairMode& mode);

// Weights of a 0/1 mask grid: 0 outside, elsewhere max(sum of the 3 × 3 neighbourhood / 9, 0.5);
// bins beyond the grid count as masked, frames beyond it as unmasked.
std::vector<float> feather(std::span<const float> mask, std::int64_t frames, int bins);

// Healing targets per masked cell: magnitudes interpolated, per bin, between the nearest clean
// frames before and after (0 outside the mask or with no clean frame on either side).
std::vector<float> healTargets(std::span<const float> magnitudes, const Grid& grid, std::int64_t frames);

// One channel segment through the grid; same length out as in.
std::vector<float> process(std::span<const float> segment, const Grid& grid, const SpectralRepairMode& mode);

}  // namespace SpectralRepair

}  // namespace tessoral
