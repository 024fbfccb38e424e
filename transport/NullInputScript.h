#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace tessoral {

// What the null backend's input streams capture: the given channels from their first frame
// on, then silence. A stream with more channels than the script repeats its first channel;
// the rate is whatever the stream runs at. Capture times follow the stream's clock, shifted by
// an offset, or are reported as unknown (0); with a speed above 1 the clock advances that many
// times slower than the frames, as on a device that delivers faster than real time.
class NullInputScript {
public:
    explicit NullInputScript(std::vector<std::vector<float>> channels);

    // Set before the script is in use.
    void setTimeOffset(double seconds) { offset_ = seconds; }
    void setNoCaptureTime(bool none) { noTime_ = none; }
    void setSpeed(double speed) { speed_ = speed; }

    // Audio thread: fills `frames` frames of every input channel and returns the capture time
    // to report for a cycle that begins at `now`. Does not allocate.
    double fill(std::vector<std::vector<float>>& inputs, std::int64_t frames, double now) noexcept;

    // Frames delivered so far.
    std::int64_t consumed() const { return position_.load(); }

private:
    const std::vector<std::vector<float>> channels_;
    double offset_ = 0.0;
    bool noTime_ = false;
    double speed_ = 1.0;
    std::atomic<std::int64_t> position_{0};
};

}  // namespace tessoral
