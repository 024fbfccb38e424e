#include "processing/Resampler.h"

#include <cmath>
#include <soxr.h>
#include <string>
#include <utility>

#include "model/Localization.h"
#include "model/StudioError.h"

namespace tessoral {

namespace {

soxr_t handle(void* p) { return static_cast<soxr_t>(p); }

[[noreturn]] void fail(soxr_error_t error) {
    throw PlatformError(L("Не удалось преобразовать частоту дискретизации: {0}",
                          std::string(error ? error : "unknown error")));
}

// Output frames that `frames` input frames can produce, with room for the filter's backlog.
std::size_t outputRoom(std::size_t frames, double ratio) {
    return static_cast<std::size_t>(std::ceil(static_cast<double>(frames) * ratio)) + 1024;
}

}  // namespace

Resampler::Resampler(double inputRate, double outputRate, unsigned channels, Quality quality)
    : channels_(channels), inputRate_(inputRate), outputRate_(outputRate) {
    const bool valid = std::isfinite(inputRate) && std::isfinite(outputRate) && inputRate > 0 && outputRate > 0 &&
                       channels > 0 && channels <= 64;
    if (!valid) fail("invalid rate or channel count");
    if (inputRate == outputRate) return;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t q = soxr_quality_spec(quality == Quality::high ? SOXR_HQ : SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_t s = soxr_create(inputRate, outputRate, channels, &error, &io, &q, &runtime);
    if (error || !s) {
        if (s) soxr_delete(s);
        fail(error);
    }
    soxr_ = s;
}

Resampler::~Resampler() {
    if (soxr_) soxr_delete(handle(soxr_));
}

Resampler::Resampler(Resampler&& other) noexcept
    : soxr_(std::exchange(other.soxr_, nullptr)),
      channels_(other.channels_),
      inputRate_(other.inputRate_),
      outputRate_(other.outputRate_) {}

Resampler& Resampler::operator=(Resampler&& other) noexcept {
    if (this != &other) {
        if (soxr_) soxr_delete(handle(soxr_));
        soxr_ = std::exchange(other.soxr_, nullptr);
        channels_ = other.channels_;
        inputRate_ = other.inputRate_;
        outputRate_ = other.outputRate_;
    }
    return *this;
}

void Resampler::process(std::span<const float* const> input, std::size_t frames,
                        std::span<std::vector<float>* const> output) {
    if (input.size() != channels_ || output.size() != channels_) fail("channel count mismatch");
    if (frames == 0) return;
    if (!soxr_) {
        for (unsigned c = 0; c < channels_; ++c) output[c]->insert(output[c]->end(), input[c], input[c] + frames);
        return;
    }
    run(input.data(), frames, output);
}

void Resampler::flush(std::span<std::vector<float>* const> output) {
    if (output.size() != channels_) fail("channel count mismatch");
    if (!soxr_) return;
    run(nullptr, 0, output);
    soxr_clear(handle(soxr_));
}

// Feeds the input (null: end of signal) until all of it is taken and the converter has nothing
// more to give for now.
void Resampler::run(const float* const* input, std::size_t frames, std::span<std::vector<float>* const> output) {
    const double ratio = outputRate_ / inputRate_;
    const float* in[64];
    float* out[64];
    std::size_t offset = 0;
    for (;;) {
        const std::size_t remaining = frames - offset;
        const std::size_t room = outputRoom(input ? remaining : 0, ratio);
        std::size_t base[64];
        for (unsigned c = 0; c < channels_; ++c) {
            base[c] = output[c]->size();
            output[c]->resize(base[c] + room);
            out[c] = output[c]->data() + base[c];
            if (input) in[c] = input[c] + offset;
        }
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error = soxr_process(handle(soxr_), input ? static_cast<const void*>(in) : nullptr,
                                                remaining, &used, static_cast<void*>(out), room, &made);
        for (unsigned c = 0; c < channels_; ++c) output[c]->resize(base[c] + made);
        if (error) fail(error);
        offset += used;
        // Done when all input is taken and the output buffer was not filled to the brim.
        if (offset >= frames && made < room) return;
        if (!input && made == 0) return;
    }
}

}  // namespace tessoral
