#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace tessoral {

// A streaming sample-rate converter over libsoxr for 32-bit float audio in separate channel
// buffers. Equal rates pass the samples through untouched. Output is appended to the caller's
// vectors, one per channel.
class Resampler {
public:
    enum class Quality {
        high,      // 20-bit precision: import
        veryHigh,  // 28-bit precision: export
    };

    // Throws PlatformError when the converter cannot be made (bad rates or channel count).
    Resampler(double inputRate, double outputRate, unsigned channels, Quality quality);
    ~Resampler();
    Resampler(Resampler&& other) noexcept;
    Resampler& operator=(Resampler&& other) noexcept;
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    unsigned channels() const { return channels_; }
    double inputRate() const { return inputRate_; }
    double outputRate() const { return outputRate_; }

    // Converts `frames` frames (input[c] points at channel c) and appends what is ready to
    // output[c]. Both spans hold channels() entries. Throws PlatformError on a converter failure.
    void process(std::span<const float* const> input, std::size_t frames,
                 std::span<std::vector<float>* const> output);
    // Ends the signal: appends the converter's remaining output. The converter can then take a
    // fresh signal.
    void flush(std::span<std::vector<float>* const> output);

private:
    void run(const float* const* input, std::size_t frames, std::span<std::vector<float>* const> output);

    void* soxr_ = nullptr;  // soxr_t; null when the rates are equal
    unsigned channels_ = 0;
    double inputRate_ = 0.0;
    double outputRate_ = 0.0;
};

}  // namespace tessoral
