#include "processing/TruePeakLimiter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "model/Frames.h"
#include "model/VectorOps.h"
#include "processing/LoudnessKernels.h"
#include "processing/ReconstructionPeak.h"

namespace tessoral::TruePeakLimiter {

namespace {

// e[i] raised by the reconstructed peak at every frame of one channel and at the frame before
// it, so each frame's envelope covers both neighbouring sample intervals. Values that cannot
// pass `threshold` need not be exact: they leave the gain at 1 either way.
void raiseEnvelope(std::span<const float> samples, std::vector<float>& envelope, std::vector<float>& scratch,
                   float threshold) {
    const std::size_t n = samples.size();
    loudness_kernels::BlockWalker walker(samples, reconstruction_peak::kBefore, reconstruction_peak::kAfter);
    while (walker.next()) {
        const std::size_t start = walker.start();
        const std::size_t length = walker.length();
        scratch.resize(length);
        reconstruction_peak::envelope(walker.padded(), length, scratch.data(), threshold);
        for (std::size_t p = 0; p < length; ++p) {
            const std::size_t i = start + p;
            const float m = scratch[p];
            envelope[i] = std::max(envelope[i], m);
            if (i + 1 < n) envelope[i + 1] = std::max(envelope[i + 1], m);
        }
    }
}

}  // namespace

AudioData apply(const AudioData& audio, double ceilingDBTP, double lookahead, double release) {
    const std::size_t n = static_cast<std::size_t>(audio.frames());
    if (n == 0) return audio;

    // 1. Peak envelope of both channels (single precision); the threshold sits 0.1 dB under the
    // ceiling.
    const float threshold = static_cast<float>(std::pow(10.0, (ceilingDBTP - 0.1) / 20.0));
    std::vector<float> gain = vec::zeros(n);
    {
        std::vector<float> scratch;
        raiseEnvelope(audio.left.span(), gain, scratch, threshold);
        if (!audio.right.sharesStorageWith(audio.left)) raiseEnvelope(audio.right.span(), gain, scratch, threshold);
    }

    // 2. Raw gain.
    bool any = false;
    for (float& g : gain) {
        if (g > threshold) {
            g = threshold / g;
            any = true;
        } else {
            g = 1.0f;
        }
    }
    if (!any) return audio;

    // 3. Window of at least two frames (72 frames for 1.5 ms).
    // Capped far beyond any clip so that frame index + window cannot overflow.
    const std::int64_t window64 =
        std::clamp<std::int64_t>(truncSaturating(lookahead * kSampleRate), 2, std::int64_t{1} << 52);
    // A window longer than the clip holds like one that spans it exactly.
    const std::size_t holdWindow = static_cast<std::size_t>(std::min<std::int64_t>(window64, static_cast<std::int64_t>(n)));

    // 4. Hold: minimum over the last w frames, from suffix minima of blocks of w frames and a
    // running prefix minimum (constant work per frame). Written over the raw gain in place.
    std::vector<float> suffix = vec::zeros(n);
    for (std::size_t blockStart = 0; blockStart < n; blockStart += holdWindow) {
        const std::size_t blockEnd = std::min(n, blockStart + holdWindow);
        float m = gain[blockEnd - 1];
        for (std::size_t i = blockEnd; i-- > blockStart;) {
            m = std::min(m, gain[i]);
            suffix[i] = m;
        }
    }
    {
        float prefix = 1.0f;
        for (std::size_t i = 0; i < n; ++i) {
            if (i % holdWindow == 0) prefix = gain[i];
            else prefix = std::min(prefix, gain[i]);
            gain[i] = i + 1 >= holdWindow ? std::min(suffix[i + 1 - holdWindow], prefix) : prefix;
        }
    }

    // 5. Release: instant attack, exponential return with the release time constant.
    float coefficient = 1.0f;
    if (release > 0.0 && std::isfinite(release))
        coefficient = static_cast<float>(1.0 - std::exp(-1.0 / (release * kSampleRate)));
    {
        float s = gain[0];
        for (std::size_t i = 0; i < n; ++i) {
            const float h = gain[i];
            if (h < s) s = h;
            else s = s + (h - s) * coefficient;
            gain[i] = s;
        }
    }

    // 6. Look-ahead: mean of the next w gains, past the end taken as the last gain.
    const double w = static_cast<double>(window64);
    auto ahead = [&](std::int64_t k) { return static_cast<double>(gain[static_cast<std::size_t>(std::min<std::int64_t>(k, static_cast<std::int64_t>(n) - 1))]); };
    std::vector<float>& smoothed = suffix;
    {
        double sum = 0.0;
        const std::int64_t inside = std::min<std::int64_t>(window64, static_cast<std::int64_t>(n));
        for (std::int64_t k = 0; k < inside; ++k) sum += gain[static_cast<std::size_t>(k)];
        sum += static_cast<double>(window64 - inside) * gain[n - 1];
        for (std::size_t i = 0; i < n; ++i) {
            smoothed[i] = static_cast<float>(sum / w);
            sum += ahead(static_cast<std::int64_t>(i) + window64) - gain[i];
        }
    }

    // 7. Both channels through the gain.
    auto through = [&](const SharedArray<float>& channel) {
        std::vector<float> out = vec::zeros(n);
        const float* in = channel.data();
        for (std::size_t i = 0; i < n; ++i) out[i] = in[i] * smoothed[i];
        return SharedArray<float>(std::move(out));
    };
    SharedArray<float> left = through(audio.left);
    SharedArray<float> right = audio.right.sharesStorageWith(audio.left) ? left : through(audio.right);
    return AudioData(std::move(left), std::move(right));
}

}  // namespace tessoral::TruePeakLimiter
