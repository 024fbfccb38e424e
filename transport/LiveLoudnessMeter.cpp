#include "transport/LiveLoudnessMeter.h"

#include <algorithm>
#include <cmath>

namespace tessoral {

void LiveLoudnessMeter::process(const float* left, const float* right, std::int64_t count) {
    if (count < 1 || left == nullptr || right == nullptr) return;
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t n = std::min<std::int64_t>(kBlockFrames - partialFrames_, count - done);
        double power = partialPower_, lr = partialLR_, ll = partialLL_, rr = partialRR_;
        for (std::int64_t i = done; i < done + n; ++i) {
            const double xl = left[i];
            const double xr = right[i];
            const double yl = leftFilter_.process(xl);
            const double yr = rightFilter_.process(xr);
            power += yl * yl + yr * yr;
            lr += xl * xr;
            ll += xl * xl;
            rr += xr * xr;
        }
        partialPower_ = power;
        partialLR_ = lr;
        partialLL_ = ll;
        partialRR_ = rr;
        partialFrames_ += static_cast<int>(n);
        done += n;
        if (partialFrames_ == kBlockFrames) commitBlock();
    }
}

void LiveLoudnessMeter::commitBlock() {
    power_[next_] = partialPower_ / kBlockFrames;
    products_[next_] = partialLR_;
    leftEnergy_[next_] = partialLL_;
    rightEnergy_[next_] = partialRR_;
    next_ = (next_ + 1) % kRingBlocks;
    filled_ = std::min(filled_ + 1, kRingBlocks);
    partialPower_ = partialLR_ = partialLL_ = partialRR_ = 0.0;
    partialFrames_ = 0;
    // A NaN or infinite sample would otherwise poison the filters for the rest of the run;
    // the blocks it touched read as no loudness.
    if (!leftFilter_.finite()) leftFilter_ = {};
    if (!rightFilter_.finite()) rightFilter_ = {};
}

double LiveLoudnessMeter::recent(const Ring& ring, int n) const {
    double sum = 0.0;
    for (int k = 1; k <= n; ++k) sum += ring[static_cast<std::size_t>((next_ - k + kRingBlocks) % kRingBlocks)];
    return sum;
}

std::optional<double> LiveLoudnessMeter::loudness(double meanPower) {
    // Also refuses NaN: a comparison with NaN is false.
    if (!(meanPower > 1e-12)) return std::nullopt;
    const double lufs = loudness_weighting::loudness(meanPower);
    if (!(lufs > -70.0)) return std::nullopt;
    return lufs;
}

std::optional<double> LiveLoudnessMeter::momentary() const {
    if (filled_ < 4) return std::nullopt;
    return loudness(recent(power_, 4) * 0.25);
}

std::optional<double> LiveLoudnessMeter::shortTerm() const {
    if (filled_ < 4) return std::nullopt;
    return loudness(recent(power_, filled_) / filled_);
}

std::optional<double> LiveLoudnessMeter::correlation() const {
    if (filled_ < 1) return std::nullopt;
    const int n = std::min(filled_, 3);
    const double ll = recent(leftEnergy_, n);
    const double rr = recent(rightEnergy_, n);
    if (!(ll > 1e-9) || !(rr > 1e-9)) return std::nullopt;
    const double c = recent(products_, n) / std::sqrt(ll * rr);
    if (std::isnan(c)) return std::nullopt;
    return std::clamp(c, -1.0, 1.0);
}

void LiveLoudnessMeter::reset() {
    leftFilter_ = {};
    rightFilter_ = {};
    filled_ = 0;
    next_ = 0;
    partialPower_ = partialLR_ = partialLL_ = partialRR_ = 0.0;
    partialFrames_ = 0;
}

}  // namespace tessoral
