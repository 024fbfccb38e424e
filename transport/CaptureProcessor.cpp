#include "transport/CaptureProcessor.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "model/Frames.h"

namespace tessoral {

CaptureProcessor::CaptureProcessor(double inputRate, int channels, std::shared_ptr<const CaptureGate> gate,
                                   std::weak_ptr<RecordingBuffer> buffer, std::shared_ptr<MonitorRing> ring)
    : inputRate_(inputRate),
      channels_(std::clamp(channels, 1, 2)),
      gate_(std::move(gate)),
      buffer_(std::move(buffer)),
      ring_(std::move(ring)),
      resampler_(inputRate, kSampleRate, static_cast<unsigned>(std::clamp(channels, 1, 2)),
                 Resampler::Quality::high) {
    outLeft_.reserve(1 << 16);
    if (channels_ > 1) outRight_.reserve(1 << 16);
}

void CaptureProcessor::process(const float* const* input, std::int64_t frames, double time) {
    if (buffer_.expired() || !input || frames < 1) return;
    const CaptureGate::State gate = gate_ ? gate_->state() : CaptureGate::State{true, std::nullopt};
    if (!gate.armed) return;  // not armed yet: the whole buffer is dropped
    if (gate.start && std::isfinite(time) && time > 0.0 && time < *gate.start) {
        // Where this buffer's first frame lies on the converted stream, plus the frames before the start.
        const std::int64_t first = roundSaturating(static_cast<double>(fed_) * kSampleRate / inputRate_);
        const std::int64_t drop = roundSaturating(kSampleRate * (*gate.start - time));
        keepFrom_ = std::max(keepFrom_, first + drop);
    }
    std::array<const float*, 2> in{input[0], channels_ > 1 ? input[1] : nullptr};
    std::array<std::vector<float>*, 2> out{&outLeft_, &outRight_};
    outLeft_.clear();
    outRight_.clear();
    resampler_.process(std::span<const float* const>(in.data(), static_cast<std::size_t>(channels_)),
                       static_cast<std::size_t>(frames),
                       std::span<std::vector<float>* const>(out.data(), static_cast<std::size_t>(channels_)));
    fed_ += frames;
    deliver();
}

void CaptureProcessor::finish() {
    if (buffer_.expired()) return;
    std::array<std::vector<float>*, 2> out{&outLeft_, &outRight_};
    outLeft_.clear();
    outRight_.clear();
    resampler_.flush(std::span<std::vector<float>* const>(out.data(), static_cast<std::size_t>(channels_)));
    deliver();
}

void CaptureProcessor::deliver() {
    const auto n = static_cast<std::int64_t>(outLeft_.size());
    if (n < 1) return;
    const float* right = channels_ > 1 ? outRight_.data() : outLeft_.data();
    if (ring_) ring_->write(outLeft_.data(), right, n);
    const std::int64_t drop = std::clamp<std::int64_t>(keepFrom_ - converted_, 0, n);
    if (auto buffer = buffer_.lock()) {
        const std::array<const float*, 2> channels{outLeft_.data(), right};
        buffer->append(channels.data(), 2, n, drop);
    }
    converted_ += n;
}

}  // namespace tessoral
