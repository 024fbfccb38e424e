#include "model/AudioData.h"

#include <algorithm>
#include <cmath>

#include "model/Frames.h"
#include "model/VectorOps.h"

namespace tessoral {

namespace {

// The chunk length of an overview of n frames in `bins` bins: max(1, ceil(n / bins)).
std::int64_t chunkLength(std::int64_t n, int bins) {
    const double c = std::ceil(static_cast<double>(n) / static_cast<double>(bins));
    return std::max<std::int64_t>(1, truncSaturating(c));
}

}  // namespace

AudioData::AudioData(std::vector<float> leftSamples, std::vector<float> rightSamples) {
    const std::size_t n = std::max(leftSamples.size(), rightSamples.size());
    leftSamples.resize(n, 0.0f);
    rightSamples.resize(n, 0.0f);
    left = SharedArray<float>(std::move(leftSamples));
    right = SharedArray<float>(std::move(rightSamples));
}

AudioData::AudioData(SharedArray<float> leftSamples, SharedArray<float> rightSamples) {
    if (leftSamples.size() == rightSamples.size()) {
        left = std::move(leftSamples);
        right = std::move(rightSamples);
    } else {
        *this = AudioData(leftSamples.toVector(), rightSamples.toVector());
    }
}

AudioData AudioData::mono(std::vector<float> samples) {
    AudioData a;
    a.left = SharedArray<float>(std::move(samples));
    a.right = a.left;
    return a;
}

AudioData AudioData::silence(std::int64_t frames) {
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(0, frames));
    return AudioData(std::vector<float>(n, 0.0f), std::vector<float>(n, 0.0f));
}

AudioData AudioData::slice(FrameRange range) const {
    const std::int64_t n = frames();
    const std::int64_t lo = clampTo<std::int64_t>(range.lower, 0, n);
    const std::int64_t hi = clampTo<std::int64_t>(range.upper, lo, n);
    if (lo == 0 && hi == n) return *this;
    const bool sameChannel = left.sharesStorageWith(right);
    AudioData out;
    out.left = SharedArray<float>(std::vector<float>(left.begin() + lo, left.begin() + hi));
    out.right = sameChannel ? out.left : SharedArray<float>(std::vector<float>(right.begin() + lo, right.begin() + hi));
    return out;
}

std::vector<float> AudioData::peaks(int bins) const {
    const std::int64_t n = frames();
    std::vector<float> out;
    if (n == 0 || bins <= 0) return out;
    const std::int64_t chunk = chunkLength(n, bins);
    out.reserve(static_cast<std::size_t>((n + chunk - 1) / chunk));
    const float* l = left.data();
    const float* r = right.data();
    for (std::int64_t begin = 0; begin < n; begin += chunk) {
        const auto len = static_cast<std::size_t>(std::min(chunk, n - begin));
        const float a = vec::maxMagnitude(l + begin, len);
        const float b = vec::maxMagnitude(r + begin, len);
        out.push_back(a <= b ? b : a);
    }
    return out;
}

std::vector<EnvelopeBin> AudioData::envelope(bool rightChannel, int bins) const {
    const SharedArray<float>& channel = rightChannel ? right : left;
    std::vector<EnvelopeBin> out;
    const std::int64_t n = frames();
    if (channel.empty() || bins <= 0) return out;
    const std::int64_t chunk = chunkLength(n, bins);
    out.reserve(static_cast<std::size_t>((n + chunk - 1) / chunk));
    const float* x = channel.data();
    for (std::int64_t begin = 0; begin < n; begin += chunk) {
        const auto len = static_cast<std::size_t>(std::min(chunk, n - begin));
        const auto mm = vec::minMax(x + begin, len);
        out.push_back({mm.min, mm.max});
    }
    return out;
}

}  // namespace tessoral
