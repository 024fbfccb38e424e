#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "processing/Resampler.h"
#include "transport/CaptureGate.h"
#include "transport/MonitorRing.h"
#include "transport/RecordingBuffer.h"

namespace tessoral {

// The capture thread's step for every captured buffer: the gate decides what is kept, the input is
// converted to 48 kHz (one or two channels as captured), every converted frame goes to the monitor
// ring when there is one, and the kept frames go to the recording buffer (a one-channel capture
// fills both sides there).
//
// Frames are counted on the converted 48 kHz stream: a buffer captured before the gate's start
// keeps the converted frames from the start onwards, also those the converter hands out only
// with later buffers.
class CaptureProcessor {
public:
    // Throws PlatformError when no converter from `inputRate` with `channels` channels exists.
    CaptureProcessor(double inputRate, int channels, std::shared_ptr<const CaptureGate> gate,
                     std::weak_ptr<RecordingBuffer> buffer, std::shared_ptr<MonitorRing> ring);

    int channels() const { return channels_; }

    // One captured buffer of channels() channels, captured at `time` (seconds on the capture
    // stream's clock; a time that is not finite or not above 0 is unknown).
    void process(const float* const* input, std::int64_t frames, double time);
    // The end of the capture: the converter's remaining output.
    void finish();

    // Converted frames so far (kept or not).
    std::int64_t convertedFrames() const { return converted_; }

private:
    void deliver();

    const double inputRate_;
    const int channels_;
    std::shared_ptr<const CaptureGate> gate_;
    std::weak_ptr<RecordingBuffer> buffer_;
    std::shared_ptr<MonitorRing> ring_;
    Resampler resampler_;
    std::vector<float> outLeft_, outRight_;
    std::int64_t fed_ = 0;       // input frames given to the converter
    std::int64_t converted_ = 0;  // converted frames handed on
    std::int64_t keepFrom_ = 0;   // first converted frame to keep
};

}  // namespace tessoral
