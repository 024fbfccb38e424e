#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "processing/LoudnessWeighting.h"

namespace tessoral {

// Live loudness of the audio being played: momentary (400 ms) and short-term (up to 3 s)
// loudness after BS.1770 without gating (both channels weighted 1), and the phase
// correlation of the last 300 ms. The audio is cut into blocks of 4800 frames (100 ms);
// the newest 30 blocks are kept in a ring. Fed on the main thread; never allocates.
class LiveLoudnessMeter {
public:
    static constexpr int kBlockFrames = 4800;
    static constexpr int kRingBlocks = 30;

    // Adds `count` frames of both channels. A block may span several calls.
    void process(const float* left, const float* right, std::int64_t count);

    // Mean power of the 4 newest blocks in LUFS; none before 4 blocks, for a mean power
    // not above 1e-12, or for a result not above −70.
    std::optional<double> momentary() const;
    // The same over every valid block (up to 30 = 3 s; fewer right after a reset).
    std::optional<double> shortTerm() const;
    // Correlation of the channels over the newest min(filled, 3) blocks, −1…+1; none before
    // the first block or when a channel holds (almost) no energy.
    std::optional<double> correlation() const;

    void reset();

    int filled() const { return filled_; }
    int partialFrames() const { return partialFrames_; }

private:
    using Ring = std::array<double, kRingBlocks>;

    // The sum of the n newest entries of a ring array (1 ≤ n ≤ 30).
    double recent(const Ring& ring, int n) const;
    void commitBlock();
    static std::optional<double> loudness(double meanPower);

    loudness_weighting::Filter leftFilter_;
    loudness_weighting::Filter rightFilter_;
    Ring power_{};        // mean of K-weighted left² + right² per block
    Ring products_{};     // sum of left × right per block
    Ring leftEnergy_{};   // sum of left² per block
    Ring rightEnergy_{};  // sum of right² per block
    int filled_ = 0;
    int next_ = 0;
    double partialPower_ = 0.0;
    double partialLR_ = 0.0;
    double partialLL_ = 0.0;
    double partialRR_ = 0.0;
    int partialFrames_ = 0;
};

}  // namespace tessoral
