#include "processing/EQUnit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/Frames.h"

namespace tessoral {

namespace {

Biquad normalised(double b0, double b1, double b2, double a0, double a1, double a2) {
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

bool usable(const EQUnit::Band& band) {
    return !band.bypass && std::isfinite(band.frequency) && std::isfinite(band.gain) &&
           std::isfinite(band.bandwidth);
}

}  // namespace

Biquad EQUnit::design(const Band& band) {
    if (!usable(band)) return {};
    const double f = clampTo(band.frequency, 10.0, 0.49 * kSampleRate);
    const double bw = clampTo(band.bandwidth, 0.01, 5.0);
    const double gain = clampTo(band.gain, -96.0, 24.0);
    const double w0 = 2.0 * std::numbers::pi * f / kSampleRate;
    const double s = std::sin(w0);
    const double c = std::cos(w0);
    const double alpha = s * std::sinh(std::numbers::ln2 / 2.0 * bw * w0 / s);
    const double A = std::pow(10.0, gain / 40.0);
    switch (band.filterType) {
        case FilterType::parametric:
            return normalised(1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A);
        case FilterType::lowPass:
            return normalised((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
        case FilterType::highPass:
            return normalised((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
        case FilterType::lowShelf: {
            const double k = 2 * std::sqrt(A) * alpha;
            return normalised(A * ((A + 1) - (A - 1) * c + k), 2 * A * ((A - 1) - (A + 1) * c),
                              A * ((A + 1) - (A - 1) * c - k), (A + 1) + (A - 1) * c + k,
                              -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - k);
        }
    }
    return {};
}

void EQUnit::setBand(std::size_t index, const Band& band) {
    if (index >= kBands) return;
    bands_[index] = band;
    sections_[index] = design(band);
    active_[index] = usable(band);
    left_[index] = {};
    right_[index] = {};
}

namespace {

#if !defined(__SSE2__)
// One sample through one section: the arithmetic of runSection, term for term.
inline double step(const Biquad& s, BiquadHistory& h, double x) {
    const double y = s.b0 * x + s.b1 * h.x1 + s.b2 * h.x2 - s.a1 * h.y1 - s.a2 * h.y2;
    h = {x, h.x1, y, h.y1};
    return y;
}
#endif

// `N` sections in a row over both channels, sample by sample: each sample goes through every
// section before the next sample enters, so the sections' recursions overlap instead of waiting on
// each other, the same operations on the same values as running the sections one after another
// over the whole slice. With SSE2 the two channels share each instruction, one per lane, in the
// same order of operations. The samples are two float channels, or (kPairs) interleaved doubles
// in `pairs`, left first.
template <std::size_t N, bool kPairs = false>
void runChains(const std::array<const Biquad*, EQUnit::kBands>& sections,
               const std::array<BiquadHistory*, EQUnit::kBands>& historiesLeft,
               const std::array<BiquadHistory*, EQUnit::kBands>& historiesRight, float* left, float* right,
               std::size_t frames, double* pairs = nullptr) {
#if defined(__SSE2__)
    __m128d b0[N], b1[N], b2[N], a1[N], a2[N], x1[N], x2[N], y1[N], y2[N];
    for (std::size_t k = 0; k < N; ++k) {
        const Biquad& s = *sections[k];
        const BiquadHistory& l = *historiesLeft[k];
        const BiquadHistory& r = *historiesRight[k];
        b0[k] = _mm_set1_pd(s.b0);
        b1[k] = _mm_set1_pd(s.b1);
        b2[k] = _mm_set1_pd(s.b2);
        a1[k] = _mm_set1_pd(s.a1);
        a2[k] = _mm_set1_pd(s.a2);
        x1[k] = _mm_set_pd(r.x1, l.x1);
        x2[k] = _mm_set_pd(r.x2, l.x2);
        y1[k] = _mm_set_pd(r.y1, l.y1);
        y2[k] = _mm_set_pd(r.y2, l.y2);
    }
    for (std::size_t i = 0; i < frames; ++i) {
        __m128d v = kPairs ? _mm_loadu_pd(pairs + 2 * i)
                           : _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(left + i), _mm_load_ss(right + i)));
        for (std::size_t k = 0; k < N; ++k) {
            __m128d y = _mm_add_pd(_mm_mul_pd(b0[k], v), _mm_mul_pd(b1[k], x1[k]));
            y = _mm_add_pd(y, _mm_mul_pd(b2[k], x2[k]));
            y = _mm_sub_pd(y, _mm_mul_pd(a1[k], y1[k]));
            y = _mm_sub_pd(y, _mm_mul_pd(a2[k], y2[k]));
            x2[k] = x1[k];
            x1[k] = v;
            y2[k] = y1[k];
            y1[k] = y;
            v = y;
        }
        if constexpr (kPairs) {
            _mm_storeu_pd(pairs + 2 * i, v);
        } else {
            const __m128 out = _mm_cvtpd_ps(v);
            _mm_store_ss(left + i, out);
            _mm_store_ss(right + i, _mm_shuffle_ps(out, out, 1));
        }
    }
    for (std::size_t k = 0; k < N; ++k) {
        BiquadHistory& l = *historiesLeft[k];
        BiquadHistory& r = *historiesRight[k];
        l = {_mm_cvtsd_f64(x1[k]), _mm_cvtsd_f64(x2[k]), _mm_cvtsd_f64(y1[k]), _mm_cvtsd_f64(y2[k])};
        r = {_mm_cvtsd_f64(_mm_unpackhi_pd(x1[k], x1[k])), _mm_cvtsd_f64(_mm_unpackhi_pd(x2[k], x2[k])),
             _mm_cvtsd_f64(_mm_unpackhi_pd(y1[k], y1[k])), _mm_cvtsd_f64(_mm_unpackhi_pd(y2[k], y2[k]))};
    }
#else
    std::array<Biquad, N> s;
    std::array<BiquadHistory, N> hl, hr;
    for (std::size_t k = 0; k < N; ++k) {
        s[k] = *sections[k];
        hl[k] = *historiesLeft[k];
        hr[k] = *historiesRight[k];
    }
    for (std::size_t i = 0; i < frames; ++i) {
        double l = kPairs ? pairs[2 * i] : left[i], r = kPairs ? pairs[2 * i + 1] : right[i];
        for (std::size_t k = 0; k < N; ++k) {
            l = step(s[k], hl[k], l);
            r = step(s[k], hr[k], r);
        }
        if constexpr (kPairs) {
            pairs[2 * i] = l;
            pairs[2 * i + 1] = r;
        } else {
            left[i] = static_cast<float>(l);
            right[i] = static_cast<float>(r);
        }
    }
    for (std::size_t k = 0; k < N; ++k) {
        *historiesLeft[k] = hl[k];
        *historiesRight[k] = hr[k];
    }
#endif
}

}  // namespace

bool EQUnit::active() const { return std::any_of(active_.begin(), active_.end(), [](bool a) { return a; }); }

void EQUnit::process(float* left, float* right, std::size_t frames) noexcept {
    frames = std::min(frames, kMaxFrames);
    std::array<const Biquad*, kBands> sections{};
    std::array<BiquadHistory*, kBands> historiesLeft{}, historiesRight{};
    std::size_t n = 0;
    for (std::size_t k = 0; k < kBands; ++k) {
        if (!active_[k]) continue;
        sections[n] = &sections_[k];
        historiesLeft[n] = &left_[k];
        historiesRight[n] = &right_[k];
        ++n;
    }
    switch (n) {
        case 1: runChains<1>(sections, historiesLeft, historiesRight, left, right, frames); break;
        case 2: runChains<2>(sections, historiesLeft, historiesRight, left, right, frames); break;
        case 3: runChains<3>(sections, historiesLeft, historiesRight, left, right, frames); break;
        case 4: runChains<4>(sections, historiesLeft, historiesRight, left, right, frames); break;
        default: break;
    }
}

void EQUnit::runSections(const Biquad* sections, BiquadHistory* left, BiquadHistory* right, std::size_t count,
                         double* pairs, std::size_t frames) noexcept {
    std::array<const Biquad*, kBands> chain{};
    std::array<BiquadHistory*, kBands> historiesLeft{}, historiesRight{};
    count = std::min(count, kBands);
    for (std::size_t k = 0; k < count; ++k) {
        chain[k] = &sections[k];
        historiesLeft[k] = &left[k];
        historiesRight[k] = &right[k];
    }
    switch (count) {
        case 1: runChains<1, true>(chain, historiesLeft, historiesRight, nullptr, nullptr, frames, pairs); break;
        case 2: runChains<2, true>(chain, historiesLeft, historiesRight, nullptr, nullptr, frames, pairs); break;
        case 3: runChains<3, true>(chain, historiesLeft, historiesRight, nullptr, nullptr, frames, pairs); break;
        case 4: runChains<4, true>(chain, historiesLeft, historiesRight, nullptr, nullptr, frames, pairs); break;
        default: break;
    }
}

}  // namespace tessoral
