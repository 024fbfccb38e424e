#pragma once

#include <cmath>

// ITU-R BS.1770 loudness weighting at 48 kHz, shared by the offline measurement and the live
// meter: the K-weighting filter (a high-shelf pre-filter, then the RLB high-pass) and the
// conversion of a mean weighted power to LUFS.
namespace tessoral::loudness_weighting {

// y = b0·x + b1·x[n−1] + b2·x[n−2] − a1·y[n−1] − a2·y[n−2]
struct Biquad {
    double b0, b1, b2, a1, a2;
};

inline constexpr Biquad kShelf{1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                               0.73248077421585};
inline constexpr Biquad kHighPass{1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};

// The offset that makes a 997 Hz sine at 0 dBFS on one channel read −3.01 LUFS.
inline constexpr double kOffset = -0.691;

// The loudness of a mean K-weighted power (channels summed), in LUFS; −∞ for 0.
inline double loudness(double meanPower) { return kOffset + 10.0 * std::log10(meanPower); }

// One channel's K-weighting, sample by sample, both stages in direct form I.
struct Filter {
    double sx1 = 0.0, sx2 = 0.0;  // last two inputs of the shelf
    double sy1 = 0.0, sy2 = 0.0;  // its last two outputs
    double hx1 = 0.0, hx2 = 0.0;  // last two inputs of the high-pass (shelf outputs)
    double hy1 = 0.0, hy2 = 0.0;  // its last two outputs

    double process(double x) {
        const double s = kShelf.b0 * x + kShelf.b1 * sx1 + kShelf.b2 * sx2 - kShelf.a1 * sy1 - kShelf.a2 * sy2;
        sx2 = sx1;
        sx1 = x;
        sy2 = sy1;
        sy1 = s;
        const double y =
            kHighPass.b0 * s + kHighPass.b1 * hx1 + kHighPass.b2 * hx2 - kHighPass.a1 * hy1 - kHighPass.a2 * hy2;
        hx2 = hx1;
        hx1 = s;
        hy2 = hy1;
        hy1 = y;
        return y;
    }

    // False once a NaN or an infinity has reached the recursive state.
    bool finite() const { return std::isfinite(hy1 + hy2 + sy1 + sy2); }
};

}  // namespace tessoral::loudness_weighting
