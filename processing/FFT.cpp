#include "processing/FFT.h"

#include <fftw3.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <stdexcept>

namespace tessoral {

// The forward and inverse plans of one size. FFTW's planner is not thread-safe, so plans are made
// under one process-wide lock and kept for the life of the process; executing them with the
// new-array calls on distinct buffers is safe from any number of threads. FFTW_ESTIMATE keeps the
// chosen algorithm, and so every result, the same from run to run.
struct FFT::Plans {
    fftwf_plan r2c = nullptr;
    fftwf_plan c2r = nullptr;
};

namespace {

struct PlanCache {
    std::mutex lock;
    std::map<int, std::unique_ptr<FFT::Plans>> bySize;
};

PlanCache& planCache() {
    // Never destroyed: a worker thread may still transform while the process exits.
    static PlanCache* cache = new PlanCache;
    return *cache;
}

}  // namespace


FFT::FFT(int n) {
    if (n < 2 || (n & (n - 1)) != 0) {
        throw std::invalid_argument("FFT length must be a power of two");
    }
    n_ = n;
    half_ = n / 2;
    log2n_ = 0;
    while ((1 << log2n_) < n) ++log2n_;

    PlanCache& cache = planCache();
    {
        std::lock_guard guard(cache.lock);
        auto& slot = cache.bySize[n];
        if (!slot) {
            auto plans = std::make_unique<Plans>();
            float* in = fftwf_alloc_real(static_cast<std::size_t>(n));
            fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(half_ + 1));
            if (in && out) {
                plans->r2c = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
                plans->c2r = fftwf_plan_dft_c2r_1d(n, out, in, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
            }
            fftwf_free(in);
            fftwf_free(out);
            if (!plans->r2c || !plans->c2r) {
                if (plans->r2c) fftwf_destroy_plan(plans->r2c);
                if (plans->c2r) fftwf_destroy_plan(plans->c2r);
                throw std::bad_alloc();
            }
            slot = std::move(plans);
        }
        plans_ = slot.get();
    }

    time_ = fftwf_alloc_real(static_cast<std::size_t>(n));
    freq_ = fftwf_alloc_complex(static_cast<std::size_t>(half_ + 1));
    if (!time_ || !freq_) {
        fftwf_free(time_);
        fftwf_free(freq_);
        throw std::bad_alloc();
    }
}

FFT::~FFT() {
    fftwf_free(time_);
    fftwf_free(freq_);
}

void FFT::forward(std::span<const float> input, std::span<float> real, std::span<float> imag) {
    if (input.size() != static_cast<std::size_t>(n_) || real.size() != static_cast<std::size_t>(half_) ||
        imag.size() != static_cast<std::size_t>(half_)) {
        throw std::invalid_argument("FFT::forward: wrong array sizes");
    }
    auto* spectrum = static_cast<fftwf_complex*>(freq_);
    // The plan preserves its input, so an input with the planner's alignment is read in place.
    float* source = const_cast<float*>(input.data());
    if (fftwf_alignment_of(source) != fftwf_alignment_of(time_)) {
        std::memcpy(time_, input.data(), input.size() * sizeof(float));
        source = time_;
    }
    fftwf_execute_dft_r2c(plans_->r2c, source, spectrum);

    real[0] = 2.0f * spectrum[0][0];
    imag[0] = 2.0f * spectrum[half_][0];
    for (int k = 1; k < half_; ++k) {
        real[k] = 2.0f * spectrum[k][0];
        imag[k] = 2.0f * spectrum[k][1];
    }
}

void FFT::inverse(std::span<const float> real, std::span<const float> imag, std::span<float> output) {
    if (output.size() != static_cast<std::size_t>(n_) || real.size() != static_cast<std::size_t>(half_) ||
        imag.size() != static_cast<std::size_t>(half_)) {
        throw std::invalid_argument("FFT::inverse: wrong array sizes");
    }
    auto* spectrum = static_cast<fftwf_complex*>(freq_);
    spectrum[0][0] = real[0];
    spectrum[0][1] = 0.0f;
    spectrum[half_][0] = imag[0];
    spectrum[half_][1] = 0.0f;
    for (int k = 1; k < half_; ++k) {
        spectrum[k][0] = real[k];
        spectrum[k][1] = imag[k];
    }
    float* target = output.data();
    const bool direct = fftwf_alignment_of(target) == fftwf_alignment_of(time_);
    if (!direct) target = time_;
    fftwf_execute_dft_c2r(plans_->c2r, spectrum, target);

    // The unnormalised inverse of a doubled spectrum is 2n times the signal.
    const float scale = 1.0f / (2.0f * static_cast<float>(n_));
    float* out = output.data();
    for (int i = 0; i < n_; ++i) out[i] = target[i] * scale;
}

void FFT::forwardInPlace() { fftwf_execute_dft_r2c(plans_->r2c, time_, static_cast<fftwf_complex*>(freq_)); }

void FFT::inverseInPlace() { fftwf_execute_dft_c2r(plans_->c2r, static_cast<fftwf_complex*>(freq_), time_); }

void FFT::magnitudes(std::span<const float> real, std::span<const float> imag, std::span<float> out) const {
    if (real.size() != static_cast<std::size_t>(half_) || imag.size() != static_cast<std::size_t>(half_) ||
        out.size() != static_cast<std::size_t>(half_ + 1)) {
        throw std::invalid_argument("FFT::magnitudes: wrong array sizes");
    }
    out[0] = std::fabs(real[0]);
    out[half_] = std::fabs(imag[0]);
    for (int k = 1; k < half_; ++k) {
        out[k] = std::sqrt(real[k] * real[k] + imag[k] * imag[k]);
    }
}

std::vector<float> FFT::magnitudes(std::span<const float> real, std::span<const float> imag) const {
    std::vector<float> out(static_cast<std::size_t>(half_ + 1));
    magnitudes(real, imag, out);
    return out;
}

std::vector<float> FFT::hann(int n) {
    if (n <= 0) return {};
    std::vector<float> w(static_cast<std::size_t>(n));
    const double step = 2.0 * std::numbers::pi / static_cast<double>(n);
    for (int i = 0; i < n; ++i) {
        w[static_cast<std::size_t>(i)] = static_cast<float>(0.5 - 0.5 * std::cos(step * i));
    }
    return w;
}

}  // namespace tessoral
