#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tessoral {

// The one real-input FFT of the engine.
//
// Spectra are kept in packed split-complex form: two arrays `real` and `imag` of n/2 values.
// For the unnormalised DFT X[k] = Σ x[m]·e^(−2πikm/n):
//   real[0] = 2·X[0] (DC), imag[0] = 2·X[n/2] (Nyquist),
//   real[k] + i·imag[k] = 2·X[k] for 1 ≤ k < n/2.
// Every magnitude computed from such a spectrum is on this doubled scale. `inverse` scales by
// 1/(2n), so forward followed by inverse returns the input.
//
// Each caller makes its own instance for one call; it is cheap because the transform plans are
// created once per size for the whole process (under one lock) and shared. One instance must not be
// used by two threads at once, but any number of instances may transform concurrently.
class FFT final {
public:
    // n must be a power of two, at least 2; anything else throws std::invalid_argument.
    explicit FFT(int n);
    ~FFT();
    FFT(const FFT&) = delete;
    FFT& operator=(const FFT&) = delete;

    int n() const { return n_; }
    int half() const { return half_; }
    unsigned log2n() const { return log2n_; }

    // input: n samples; real, imag: half values each, written. No scaling beyond the doubled
    // scale described above. Wrong sizes throw std::invalid_argument.
    void forward(std::span<const float> input, std::span<float> real, std::span<float> imag);

    // real, imag: half values each (read, left unchanged); output: n samples, written.
    // The result is scaled by 1/(2n). Wrong sizes throw std::invalid_argument.
    void inverse(std::span<const float> real, std::span<const float> imag, std::span<float> output);

    // half + 1 magnitudes: [0] = |real[0]|, [half] = |imag[0]|, [k] = |real[k] + i·imag[k]|.
    std::vector<float> magnitudes(std::span<const float> real, std::span<const float> imag) const;
    // The same into a caller's buffer of half + 1 values (no allocation).
    void magnitudes(std::span<const float> real, std::span<const float> imag, std::span<float> out) const;

    // The unpacked transforms on the instance's own SIMD-aligned buffers, for kernels that window
    // straight into the transform's input and read its output in place (no copies, no scaling):
    // `samples()` holds n values, `bins()` half + 1 complex values as (re, im) pairs of the
    // unnormalised DFT X[0 … n/2] (not doubled). `forwardInPlace` transforms samples() into bins()
    // and leaves samples() unchanged; `inverseInPlace` turns bins() back into n times the signal in
    // samples() and leaves bins() undefined.
    float* samples() { return time_; }
    float* bins() { return static_cast<float*>(freq_); }
    void forwardInPlace();
    void inverseInPlace();

    // Periodic Hann window: w[i] = 0.5 − 0.5·cos(2πi/n), computed in double precision.
    // n ≤ 0 gives an empty array.
    static std::vector<float> hann(int n);

    // The shared transform plans of one size (defined in FFT.cpp).
    struct Plans;

private:
    int n_;
    int half_;
    unsigned log2n_;
    const Plans* plans_;
    float* time_;    // n samples, SIMD-aligned
    void* freq_;     // half + 1 complex values, SIMD-aligned
};

}  // namespace tessoral
