#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

// The 4x oversampling shared by the true-peak meter and the true-peak limiter: three
// windowed-sinc kernels of 16 taps interpolate the values at the quarter, half and
// three-quarter positions between samples.
namespace tessoral::loudness_kernels {

inline constexpr int kTaps = 16;
// Taps cover the input offsets −7 … +8 around the position.
inline constexpr int kBefore = 7;
inline constexpr int kAfter = 8;
// Positions handled per block, so working memory stays bounded for any length.
inline constexpr std::size_t kBlock = 65536;

// The kernels for the fractions 1/4, 1/2 and 3/4, each normalised to unit gain at DC.
const std::array<std::array<float, kTaps>, 3>& phaseKernels();

// Walks a channel in blocks of at most kBlock positions. For each block, `padded` holds the
// samples from `before` (kBefore unless given) before the block to `after` after it (zeros
// outside the channel) and further zeros, so padded[p + before] is the sample at position
// start + p.
class BlockWalker {
public:
    explicit BlockWalker(std::span<const float> samples, std::size_t before = kBefore, std::size_t after = kAfter);
    // Prepares the next block; false when the channel is done.
    bool next();
    std::size_t start() const { return start_; }
    std::size_t length() const { return length_; }
    const float* padded() const { return buffer_.data(); }

private:
    std::span<const float> samples_;
    std::size_t before_;
    std::size_t after_;
    std::vector<float> buffer_;
    std::size_t start_ = 0;
    std::size_t length_ = 0;
    bool started_ = false;
};

// The largest magnitude of the values interpolated at p + 1/4, p + 1/2 and p + 3/4 for the
// positions p = 0 … length − 1 of a padded block (the samples themselves not included).
float interpolatedPeak(const float* padded, std::size_t length);

// out[p] = the largest magnitude of the sample at p and of the three values interpolated
// after it, for p = 0 … length − 1 of a padded block.
void peakEnvelope(const float* padded, std::size_t length, float* out);

}  // namespace tessoral::loudness_kernels
