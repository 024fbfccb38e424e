#include "processing/ChannelOps.h"

#include <algorithm>
#include <cmath>

#include "model/Hashing.h"
#include "model/Frames.h"
#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StudioError.h"
#include "processing/FFT.h"

namespace tessoral {

std::string title(CenterMode mode) {
    return mode == CenterMode::keep ? L("Оставить центр") : L("Убрать центр");
}

ChannelOperation ChannelOperation::width(double factor) {
    ChannelOperation op(Kind::width);
    op.width_ = factor;
    return op;
}

ChannelOperation ChannelOperation::center(CenterExtractSettings settings) {
    ChannelOperation op(Kind::center);
    op.center_ = settings;
    return op;
}

std::string ChannelOperation::title() const {
    switch (kind_) {
        case Kind::width: return L("Ширина стереобазы {0}%", num::fixed(width_ * 100.0, 0));
        case Kind::center: return center_.mode == CenterMode::keep ? L("Извлечь центр") : L("Убрать центр");
        case Kind::swap: return L("Поменять местами Л/П");
        case Kind::mono: return L("Моно (сумма)");
        case Kind::leftToBoth: return L("Левый в оба канала");
        case Kind::rightToBoth: return L("Правый в оба канала");
        case Kind::invertLeft: return L("Инвертировать фазу левого");
    }
    return {};
}

bool operator==(const ChannelOperation& a, const ChannelOperation& b) {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
        case ChannelOperation::Kind::width: return a.width_ == b.width_;
        case ChannelOperation::Kind::center: return a.center_ == b.center_;
        default: return true;
    }
}

namespace ChannelOps {

namespace {

constexpr int kFrame = 4096;
constexpr int kHalf = kFrame / 2;
constexpr int kHop = kFrame / 4;

// The band's bins: DC (bin 0, which also carries the Nyquist value) is never touched.
struct Band {
    int lo;
    int hi;
};

Band band(const CenterExtractSettings& s) {
    const double lo = std::isfinite(s.lowHz) ? std::clamp(s.lowHz, 20.0, 23000.0) : 20.0;
    const double hi = std::isfinite(s.highHz) ? std::min(std::max(s.highHz, lo), 24000.0) : 24000.0;
    const auto loBin = std::max<std::int64_t>(1, roundSaturating(lo / 48000.0 * kFrame));
    const auto hiBin = std::min<std::int64_t>(kHalf - 1, roundSaturating(hi / 48000.0 * kFrame));
    return {static_cast<int>(loBin), static_cast<int>(hiBin)};
}

}  // namespace

std::pair<std::vector<float>, std::vector<float>> centerExtract(std::span<const float> left,
                                                                std::span<const float> right,
                                                                const CenterExtractSettings& settings) {
    const auto n = static_cast<std::int64_t>(std::max(left.size(), right.size()));
    if (n == 0) return {std::vector<float>(left.begin(), left.end()), std::vector<float>(right.begin(), right.end())};

    const Band bins = band(settings);
    const bool keep = settings.mode == CenterMode::keep;

    FFT fft(kFrame);
    const std::vector<float> window = FFT::hann(kFrame);
    // Synthesis weight: the window divided by the summed squared windows of the four frames over
    // each sample, so that an untouched spectrum gives the input back.
    std::vector<float> synthesis(kFrame);
    for (int j = 0; j < kHop; ++j) {
        double sum = 0.0;
        for (int q = 0; q < 4; ++q) {
            const double v = window[static_cast<std::size_t>(j + q * kHop)];
            sum += v * v;
        }
        for (int q = 0; q < 4; ++q) {
            const auto k = static_cast<std::size_t>(j + q * kHop);
            synthesis[k] = sum > 0.0 ? static_cast<float>(window[k] / sum) : 0.0f;
        }
    }

    std::vector<float> outL(left.size(), 0.0f), outR(right.size(), 0.0f);
    std::vector<float> frameL(kFrame), frameR(kFrame);
    std::vector<float> reL(kHalf), imL(kHalf), reR(kHalf), imR(kHalf);

    // The windowed samples t … t+4095 that lie inside the channel, zeros elsewhere.
    auto fill = [&](std::vector<float>& frame, std::span<const float> x, std::int64_t t) {
        const auto size = static_cast<std::int64_t>(x.size());
        const int k0 = static_cast<int>(std::clamp<std::int64_t>(-t, 0, kFrame));
        const int k1 = std::max(k0, static_cast<int>(std::clamp<std::int64_t>(size - t, 0, kFrame)));
        std::fill(frame.begin(), frame.begin() + k0, 0.0f);
        for (int k = k0; k < k1; ++k)
            frame[static_cast<std::size_t>(k)] = x[static_cast<std::size_t>(t + k)] * window[static_cast<std::size_t>(k)];
        std::fill(frame.begin() + k1, frame.end(), 0.0f);
    };
    auto add = [&](std::vector<float>& out, const std::vector<float>& frame, std::int64_t t) {
        const auto size = static_cast<std::int64_t>(out.size());
        const int k0 = static_cast<int>(std::max<std::int64_t>(0, -t));
        const int k1 = static_cast<int>(std::clamp<std::int64_t>(size - t, 0, kFrame));
        for (int k = k0; k < k1; ++k)
            out[static_cast<std::size_t>(t + k)] += frame[static_cast<std::size_t>(k)] * synthesis[static_cast<std::size_t>(k)];
    };

    for (std::int64_t t = -(kFrame - kHop); t < n; t += kHop) {
        fill(frameL, left, t);
        fill(frameR, right, t);
        fft.forward(frameL, reL, imL);
        fft.forward(frameR, reR, imR);
        for (int k = bins.lo; k <= bins.hi; ++k) {
            const auto i = static_cast<std::size_t>(k);
            const double xl = reL[i], yl = imL[i], xr = reR[i], yr = imR[i];
            const double energy = xl * xl + yl * yl + xr * xr + yr * yr;
            double s = energy <= 1e-20 ? 0.0 : std::max(0.0, 2.0 * (xl * xr + yl * yr) / energy);
            s *= s;
            s *= s;
            s *= s;  // s⁸
            const auto mx = static_cast<float>(0.5 * (xl + xr) * s);
            const auto my = static_cast<float>(0.5 * (yl + yr) * s);
            if (keep) {
                reL[i] = reR[i] = mx;
                imL[i] = imR[i] = my;
            } else {
                reL[i] -= mx;
                imL[i] -= my;
                reR[i] -= mx;
                imR[i] -= my;
            }
        }
        fft.inverse(reL, imL, frameL);
        fft.inverse(reR, imR, frameR);
        add(outL, frameL, t);
        add(outR, frameR, t);
    }
    return {std::move(outL), std::move(outR)};
}

AudioData apply(const ChannelOperation& operation, const AudioData& audio, FrameRange range) {
    if (range.lower < 0 || range.upper <= range.lower || range.upper > audio.frames())
        throw StudioError(L("Выделите фрагмент внутри выбранного клипа."));

    using Kind = ChannelOperation::Kind;
    float k = 1.0f;
    if (operation.kind() == Kind::width) {
        const double w = operation.widthFactor();
        if (!std::isfinite(w)) return audio;
        const double clamped = std::clamp(w, 0.0, 2.0);
        if (clamped == 1.0) return audio;
        k = static_cast<float>(clamped);
    }

    AudioData out = audio;
    // Writing one channel must not change the other when both share one array.
    if (out.left.sharesStorageWith(out.right)) out.right = SharedArray<float>(out.right.toVector());
    std::vector<float>& l = out.left.mutableVector();
    std::vector<float>& r = out.right.mutableVector();
    if (r.size() != l.size()) r.resize(l.size(), 0.0f);
    const auto lo = static_cast<std::size_t>(range.lower);
    const auto hi = static_cast<std::size_t>(range.upper);

    switch (operation.kind()) {
        case Kind::width: {
            const float halfK = 0.5f * k;
            for (std::size_t i = lo; i < hi; ++i) {
                const float mid = 0.5f * (l[i] + r[i]);
                const float side = (l[i] - r[i]) * halfK;
                l[i] = mid + side;
                r[i] = mid - side;
            }
            break;
        }
        case Kind::center: {
            const std::span<const float> inL(l.data() + lo, hi - lo), inR(r.data() + lo, hi - lo);
            auto [pl, pr] = centerExtract(inL, inR, operation.centerSettings());
            std::copy(pl.begin(), pl.end(), l.begin() + static_cast<std::ptrdiff_t>(lo));
            std::copy(pr.begin(), pr.end(), r.begin() + static_cast<std::ptrdiff_t>(lo));
            break;
        }
        case Kind::swap:
            std::swap_ranges(l.begin() + static_cast<std::ptrdiff_t>(lo), l.begin() + static_cast<std::ptrdiff_t>(hi),
                             r.begin() + static_cast<std::ptrdiff_t>(lo));
            break;
        case Kind::mono:
            for (std::size_t i = lo; i < hi; ++i) l[i] = r[i] = 0.5f * (l[i] + r[i]);
            break;
        case Kind::leftToBoth:
            std::copy(l.begin() + static_cast<std::ptrdiff_t>(lo), l.begin() + static_cast<std::ptrdiff_t>(hi),
                      r.begin() + static_cast<std::ptrdiff_t>(lo));
            break;
        case Kind::rightToBoth:
            std::copy(r.begin() + static_cast<std::ptrdiff_t>(lo), r.begin() + static_cast<std::ptrdiff_t>(hi),
                      l.begin() + static_cast<std::ptrdiff_t>(lo));
            break;
        case Kind::invertLeft:
            for (std::size_t i = lo; i < hi; ++i) l[i] = -l[i];
            break;
    }
    return out;
}

}  // namespace ChannelOps

}  // namespace tessoral

std::size_t std::hash<tessoral::CenterExtractSettings>::operator()(const tessoral::CenterExtractSettings& s) const noexcept {
    std::size_t h = static_cast<std::size_t>(s.mode);
    tessoral::hashCombine(h, std::hash<double>{}(s.lowHz));
    tessoral::hashCombine(h, std::hash<double>{}(s.highHz));
    return h;
}

std::size_t std::hash<tessoral::ChannelOperation>::operator()(const tessoral::ChannelOperation& op) const noexcept {
    using Kind = tessoral::ChannelOperation::Kind;
    std::size_t h = static_cast<std::size_t>(op.kind()) * 0x100000001B3ull;
    if (op.kind() == Kind::width) tessoral::hashCombine(h, std::hash<double>{}(op.widthFactor()));
    if (op.kind() == Kind::center)
        tessoral::hashCombine(h, std::hash<tessoral::CenterExtractSettings>{}(op.centerSettings()));
    return h;
}
