#include "processing/Diagnostics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "model/Hashing.h"
#include "model/Frames.h"
#include "model/Localization.h"
#include "model/StudioError.h"

namespace tessoral::Diagnostics {

namespace {

constexpr int kClickOrder = 16;
constexpr std::int64_t kClickBlock = 2048;
constexpr std::int64_t kClickMergeGap = 8;
constexpr std::int64_t kSilenceWindow = 480;

// The periodic Hann window scaled to unit mean square: √(8/3)·(0.5 − 0.5·cos(2πi/n)).
std::vector<float> normalisedHann(std::size_t n) {
    std::vector<float> w(n);
    const double gain = std::sqrt(8.0 / 3.0);
    const double step = 2.0 * std::numbers::pi / static_cast<double>(n);
    for (std::size_t i = 0; i < n; ++i) w[i] = static_cast<float>(gain * (0.5 - 0.5 * std::cos(step * static_cast<double>(i))));
    return w;
}

// The window of the click detector's block length is made once.
const std::vector<float>& blockWindow() {
    static const std::vector<float> window = normalisedHann(static_cast<std::size_t>(kClickBlock));
    return window;
}

// Σ a[i]·b[i] in single precision over eight interleaved partial sums.
float dot(const float* a, const float* b, std::size_t n) {
    float partial[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int k = 0; k < 8; ++k) partial[k] += a[i + k] * b[i + k];
    }
    float sum = 0.0f;
    for (; i < n; ++i) sum += a[i] * b[i];
    for (float p : partial) sum += p;
    return sum;
}

std::vector<float> lpcWindowed(std::span<const float> samples, int order, std::span<const float> window,
                               std::vector<float>& scratch) {
    const auto p = static_cast<std::size_t>(order);
    const std::size_t n = samples.size();
    std::vector<float> coefficients(p, 0.0f);
    if (n <= 2 * p) return coefficients;
    scratch.resize(n);
    for (std::size_t i = 0; i < n; ++i) scratch[i] = samples[i] * window[i];
    std::vector<double> r(p + 1);
    for (std::size_t k = 0; k <= p; ++k) r[k] = dot(scratch.data(), scratch.data() + k, n - k);
    if (!(r[0] > 1e-20)) return coefficients;
    r[0] *= 1.0001;

    std::vector<double> a(p + 1, 0.0), previous(p + 1, 0.0);
    a[0] = 1.0;
    double err = r[0];
    for (std::size_t i = 1; i <= p; ++i) {
        double acc = r[i];
        for (std::size_t j = 1; j < i; ++j) acc += a[j] * r[i - j];
        const double k = -acc / err;
        previous = a;
        for (std::size_t j = 1; j < i; ++j) a[j] = previous[j] + k * previous[i - j];
        a[i] = k;
        const double nextErr = err * (1.0 - k * k);
        if (nextErr <= 0.0) break;
        err = nextErr;
    }
    for (std::size_t j = 1; j <= p; ++j) coefficients[j - 1] = static_cast<float>(-a[j]);
    return coefficients;
}

FrameRange clampedRange(FrameRange range, std::int64_t count) {
    const std::int64_t lo = std::clamp<std::int64_t>(range.lower, 0, count);
    const std::int64_t hi = std::clamp<std::int64_t>(range.upper, lo, count);
    return {lo, hi};
}

struct Event {
    std::int64_t start;
    std::int64_t end;
    double peak;
};

// Suspect runs of one channel's clicks over span.lower ..< span.upper, appended to `events`.
void clickEvents(const float* x, std::int64_t count, FrameRange span, double factor, double floor, std::vector<Event>& events) {
    std::vector<float> ef(static_cast<std::size_t>(kClickBlock)), eb(static_cast<std::size_t>(kClickBlock));
    std::vector<float> scratch;
    const std::int64_t analysed = std::min(kClickBlock, count);
    const std::vector<float> ownWindow = analysed == kClickBlock ? std::vector<float>{} : normalisedHann(static_cast<std::size_t>(analysed));
    const std::span<const float> window = analysed == kClickBlock ? std::span<const float>(blockWindow()) : std::span<const float>(ownWindow);

    for (std::int64_t bs = span.lower; bs < span.upper; bs += kClickBlock) {
        const std::int64_t be = std::min(bs + kClickBlock, span.upper);
        const auto len = static_cast<std::size_t>(be - bs);
        const std::int64_t from = std::max<std::int64_t>(std::min(count - kClickBlock, bs), 0);
        const std::vector<float> c =
            lpcWindowed(std::span<const float>(x + from, static_cast<std::size_t>(analysed)), kClickOrder, window, scratch);

        // Predictions: ef = x − Σ c[j−1]·x[t−j], eb = x − Σ c[j−1]·x[t+j] (span keeps 16 frames of
        // context on both sides inside the clip).
        const float* block = x + bs;
        std::copy(block, block + len, ef.begin());
        std::copy(block, block + len, eb.begin());
        for (int j = 1; j <= kClickOrder; ++j) {
            const float cj = c[static_cast<std::size_t>(j - 1)];
            const float* before = block - j;
            const float* after = block + j;
            for (std::size_t t = 0; t < len; ++t) {
                ef[t] -= cj * before[t];
                eb[t] -= cj * after[t];
            }
        }
        double sum = 0.0;
        for (std::size_t t = 0; t < len; ++t) {
            ef[t] = std::fabs(ef[t]);
            eb[t] = std::fabs(eb[t]);
            sum += ef[t];
        }
        const double mean = sum / static_cast<double>(len);
        double quietSum = 0.0;
        std::size_t quiet = 0;
        for (std::size_t t = 0; t < len; ++t) {
            if (ef[t] < 4.0 * mean) {
                quietSum += ef[t];
                ++quiet;
            }
        }
        const double level = quiet > 0 ? quietSum / static_cast<double>(quiet) : mean;
        const double threshold = std::max(level * factor, floor);

        bool open = false;
        Event current{};
        for (std::size_t t = 0; t < len; ++t) {
            const bool suspect = ef[t] > threshold && eb[t] > threshold;
            if (suspect) {
                const double ratio = std::min(ef[t], eb[t]) / threshold;
                if (!open) {
                    current = {bs + static_cast<std::int64_t>(t), bs + static_cast<std::int64_t>(t) + 1, ratio};
                    open = true;
                } else {
                    current.end = bs + static_cast<std::int64_t>(t) + 1;
                    current.peak = std::max(current.peak, ratio);
                }
            } else if (open) {
                events.push_back(current);
                open = false;
            }
        }
        if (open) events.push_back(current);
    }
}

DiagnosticFinding finding(DiagnosticKind kind, FrameRange range, double severity) {
    DiagnosticFinding f;
    f.kind = kind;
    f.range = range;
    f.severity = severity;
    return f;
}

// Sorts by start and merges ranges that overlap or touch.
std::vector<FrameRange> mergedRanges(std::vector<FrameRange> ranges) {
    std::stable_sort(ranges.begin(), ranges.end(), [](const FrameRange& a, const FrameRange& b) { return a.lower < b.lower; });
    std::vector<FrameRange> merged;
    for (const FrameRange& r : ranges) {
        if (!merged.empty() && r.lower <= merged.back().upper) {
            merged.back().upper = std::max(merged.back().upper, r.upper);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

}  // namespace

float clipLevel(double thresholdDB) {
    const double dB = std::isfinite(thresholdDB) ? clampTo(thresholdDB, -24.0, 0.0) : -0.1;
    return static_cast<float>(0.999 * std::pow(10.0, dB / 20.0));
}

std::vector<float> lpc(std::span<const float> samples, int order) {
    if (order < 1) return {};
    if (samples.size() <= 2 * static_cast<std::size_t>(order)) return std::vector<float>(static_cast<std::size_t>(order), 0.0f);
    std::vector<float> scratch;
    if (samples.size() == static_cast<std::size_t>(kClickBlock)) return lpcWindowed(samples, order, blockWindow(), scratch);
    const std::vector<float> window = normalisedHann(samples.size());
    return lpcWindowed(samples, order, window, scratch);
}

std::vector<DiagnosticFinding> detectClicks(const AudioData& audio, FrameRange range, double sensitivity) {
    const double s = std::isfinite(sensitivity) ? clampTo(sensitivity, 0.0, 1.0) : 0.5;
    const double factor = 30.0 - 26.0 * s;
    const double floor = (1.25 - s) * 0.004;
    const std::int64_t count = std::min(audio.frames(), static_cast<std::int64_t>(audio.right.size()));
    const FrameRange span{std::max<std::int64_t>(range.lower, kClickOrder), std::min(count - kClickOrder, range.upper)};
    if (span.lower >= span.upper) return {};

    std::vector<Event> raw;
    clickEvents(audio.left.data(), count, span, factor, floor, raw);
    clickEvents(audio.right.data(), count, span, factor, floor, raw);
    std::stable_sort(raw.begin(), raw.end(), [](const Event& a, const Event& b) { return a.start < b.start; });

    std::vector<Event> merged;
    for (const Event& e : raw) {
        if (!merged.empty() && e.start - merged.back().end <= kClickMergeGap) {
            merged.back().end = std::max(merged.back().end, e.end);
            merged.back().peak = std::max(merged.back().peak, e.peak);
        } else {
            merged.push_back(e);
        }
    }
    std::vector<DiagnosticFinding> findings;
    for (const Event& e : merged) {
        if (findings.size() >= kMaxFindings) break;
        if (e.end - e.start > kMaxClickLength) continue;
        const double severity = clampTo(0.5 * std::log10(std::max(e.peak, 1.0)), 0.05, 1.0);
        findings.push_back(finding(DiagnosticKind::clicks, {e.start, e.end}, severity));
    }
    return findings;
}

std::vector<DiagnosticFinding> detectClipping(const AudioData& audio, FrameRange range, double thresholdDB, int minRun) {
    const float level = clipLevel(thresholdDB);
    const std::int64_t run = std::max(minRun, 1);
    const std::int64_t count = std::min(audio.frames(), static_cast<std::int64_t>(audio.right.size()));
    const FrameRange scan = clampedRange(range, count);

    std::vector<FrameRange> runs;
    for (const float* x : {audio.left.data(), audio.right.data()}) {
        std::int64_t start = -1;
        for (std::int64_t i = scan.lower; i < scan.upper; ++i) {
            if (std::fabs(x[i]) >= level) {
                if (start < 0) start = i;
            } else if (start >= 0) {
                if (i - start >= run) runs.push_back({start, i});
                start = -1;
            }
        }
        if (start >= 0 && scan.upper - start >= run) runs.push_back({start, scan.upper});
    }
    std::vector<DiagnosticFinding> findings;
    for (const FrameRange& r : mergedRanges(std::move(runs))) {
        if (findings.size() >= kMaxFindings) break;
        findings.push_back(finding(DiagnosticKind::clipping, r, std::min(static_cast<double>(r.count()) / 64.0, 1.0)));
    }
    return findings;
}

std::vector<DiagnosticFinding> detectSilence(const AudioData& audio, FrameRange range, double thresholdDB,
                                             double minDuration) {
    const double dB = std::isfinite(thresholdDB) ? clampTo(thresholdDB, -120.0, 0.0) : -50.0;
    const double power = std::pow(10.0, dB / 10.0);
    const std::int64_t minimum =
        std::isfinite(minDuration)
            ? std::max<std::int64_t>(truncSaturating(std::max(minDuration, 0.01) * kSampleRate), kSilenceWindow)
            : 24000;
    const std::int64_t count = std::min(audio.frames(), static_cast<std::int64_t>(audio.right.size()));
    const FrameRange scan = clampedRange(range, count);
    if (scan.empty()) return {};

    const float* left = audio.left.data();
    const float* right = audio.right.data();
    std::vector<DiagnosticFinding> findings;
    std::int64_t open = -1;
    auto close = [&](std::int64_t end) {
        const std::int64_t length = end - open;
        if (length >= minimum && findings.size() < kMaxFindings) {
            const double severity = std::min(static_cast<double>(length) / (8.0 * static_cast<double>(minimum)), 1.0);
            findings.push_back(finding(DiagnosticKind::silence, {open, end}, severity));
        }
        open = -1;
    };
    for (std::int64_t w = scan.lower; w < scan.upper; w += kSilenceWindow) {
        const std::int64_t we = std::min(w + kSilenceWindow, scan.upper);
        const auto n = static_cast<std::size_t>(we - w);
        const double msLeft = dot(left + w, left + w, n) / static_cast<double>(n);
        const double msRight = dot(right + w, right + w, n) / static_cast<double>(n);
        const bool silent = msLeft <= power && msRight <= power;
        if (silent) {
            if (open < 0) open = w;
        } else if (open >= 0) {
            close(w);
        }
    }
    if (open >= 0) close(scan.upper);
    return findings;
}

void interpolate(std::vector<float>& channel, FrameRange gap) {
    const auto size = static_cast<std::int64_t>(channel.size());
    if (gap.empty() || gap.lower < 0 || gap.upper > size) return;
    const std::int64_t start = gap.lower;
    const std::int64_t end = gap.upper;
    const std::int64_t g = end - start;
    const std::int64_t q = std::clamp<std::int64_t>(g > 2048 / 16 ? 2048 : 16 * g, 256, 2048);
    const std::int64_t leftLength = std::min(start, q);
    const std::int64_t rightLength = std::min(end + q, size) - end;
    const std::int64_t shorter = std::min(leftLength, rightLength);
    const std::int64_t order = shorter < 32 ? 4 : (shorter >= 256 ? 32 : shorter / 8);

    float* x = channel.data();
    if (leftLength > 2 * order && rightLength > 2 * order) {
        const auto p = static_cast<std::size_t>(order);
        const std::vector<float> cl = lpc(std::span<const float>(x + start - leftLength, static_cast<std::size_t>(leftLength)), static_cast<int>(order));
        const std::vector<float> cr = lpc(std::span<const float>(x + end, static_cast<std::size_t>(rightLength)), static_cast<int>(order));
        const auto gz = static_cast<std::size_t>(g);
        // forward[p + k] is gap frame k predicted from the frames before it.
        std::vector<float> forward(p + gz);
        std::copy(x + start - order, x + start, forward.begin());
        for (std::size_t k = 0; k < gz; ++k) {
            float v = 0.0f;
            for (std::size_t j = 1; j <= p; ++j) v += cl[j - 1] * forward[p + k - j];
            forward[p + k] = v;
        }
        // backward[k] is gap frame k predicted from the frames after it.
        std::vector<float> backward(gz + p);
        std::copy(x + end, x + end + order, backward.begin() + static_cast<std::ptrdiff_t>(gz));
        for (std::size_t k = gz; k-- > 0;) {
            float v = 0.0f;
            for (std::size_t j = 1; j <= p; ++j) v += cr[j - 1] * backward[k + j];
            backward[k] = v;
        }
        for (std::size_t k = 0; k < gz; ++k) {
            const double w = static_cast<double>(k + 1) / static_cast<double>(g + 1);
            x[start + static_cast<std::int64_t>(k)] = static_cast<float>((1.0 - w) * forward[p + k] + w * backward[k]);
        }
        return;
    }

    const bool hasBefore = start > 0;
    const bool hasAfter = end < size;
    const double a = hasBefore ? x[start - 1] : (hasAfter ? x[end] : 0.0);
    const double b = hasAfter ? x[end] : a;
    for (std::int64_t k = 0; k < g; ++k) {
        x[start + k] = static_cast<float>(a + (b - a) * static_cast<double>(k + 1) / static_cast<double>(g + 1));
    }
}

namespace {

// The detector's measure around one finding of one channel: its order-16 predictor and outlier
// threshold, made as a scan makes them but from the frames beyond the reach of the defect (up to
// 1024 each side), so that a click's own ringing does not teach the predictor to expect it.
struct OutlierMeasure {
    const float* x = nullptr;
    std::int64_t count = 0;
    std::vector<float> c;
    double threshold = 0.0;

    OutlierMeasure(const float* samples, std::int64_t frames, FrameRange around, double factor, double floor,
                   std::vector<float>& scratch)
        : x(samples), count(frames) {
        const std::int64_t reach = kClickSpreadLimit + kClickOrder;
        const FrameRange before{std::max<std::int64_t>(around.lower - reach - kClickBlock / 2, 0),
                                std::max<std::int64_t>(around.lower - reach, 0)};
        const FrameRange after{std::min(around.upper + reach, count), std::min(around.upper + reach + kClickBlock / 2, count)};
        std::vector<float> joined(x + before.lower, x + before.upper);
        joined.insert(joined.end(), x + after.lower, x + after.upper);
        const std::vector<float> window = normalisedHann(joined.size());
        c = lpcWindowed(joined, kClickOrder, window, scratch);
        // Residual level as the detector takes it: the mean, then the mean of what lies under 4×.
        std::vector<double> e;
        e.reserve(joined.size());
        for (const FrameRange& part : {before, after})
            for (std::int64_t t = std::max<std::int64_t>(part.lower + kClickOrder, kClickOrder); t < part.upper; ++t) e.push_back(forward(t));
        double mean = 0.0;
        for (double v : e) mean += v;
        mean = e.empty() ? 0.0 : mean / static_cast<double>(e.size());
        double quietSum = 0.0;
        std::size_t quiet = 0;
        for (double v : e) {
            if (v < 4.0 * mean) {
                quietSum += v;
                ++quiet;
            }
        }
        const double level = quiet > 0 ? quietSum / static_cast<double>(quiet) : mean;
        threshold = std::max(level * factor, floor);
    }

    // |x − prediction from the 16 frames before t| (t ≥ 16).
    double forward(std::int64_t t) const {
        float v = x[t];
        for (int j = 1; j <= kClickOrder; ++j) v -= c[static_cast<std::size_t>(j - 1)] * x[t - j];
        return std::fabs(v);
    }
    // |x − prediction from the 16 frames after t| (t + 16 < count).
    double backward(std::int64_t t) const {
        float v = x[t];
        for (int j = 1; j <= kClickOrder; ++j) v -= c[static_cast<std::size_t>(j - 1)] * x[t + j];
        return std::fabs(v);
    }
    // The frame before the span still stands out from what precedes it.
    bool leftEdgeStandsOut(std::int64_t t, double share) const { return t >= kClickOrder && forward(t) > threshold * share; }
    // The frame after the span still stands out from what follows it.
    bool rightEdgeStandsOut(std::int64_t t, double share) const { return t + kClickOrder < count && backward(t) > threshold * share; }
};

// The long-term (pitch) part of a model of voiced sound: the residual of the short-term predictor
// `h` at frame t is taken as Σ beta[k]·residual(t − lag − 1 + k), k = 0 … 2, over the frames on
// both sides of a gap. The lag is the one whose residuals correlate best, between 2 and 15 ms at
// 48 kHz and at most half the longer side; empty when nothing repeats. Hiss or a spectrum the
// short-term predictor mostly flattens leaves little of the pitch in the residual, yet that little
// is what holds a long gap's waveform, so a weak but clear correlation is enough.
struct PitchPredictor {
    std::int64_t lag = 0;
    double beta[3] = {0.0, 0.0, 0.0};
};

PitchPredictor pitchPredictor(const float* x, std::span<const double> h, std::span<const FrameRange> sides) {
    constexpr std::int64_t kShortestLag = 96;
    constexpr std::int64_t kLongestLag = 720;
    const auto p = static_cast<std::int64_t>(h.size()) - 1;
    std::vector<std::vector<double>> residuals;
    for (const FrameRange& side : sides) {
        std::vector<double> e;
        if (side.count() > p) e.reserve(static_cast<std::size_t>(side.count() - p));
        for (std::int64_t t = side.lower + p; t < side.upper; ++t) {
            double v = 0.0;
            for (std::int64_t j = 0; j <= p; ++j) v += h[static_cast<std::size_t>(j)] * x[t - j];
            e.push_back(v);
        }
        residuals.push_back(std::move(e));
    }
    std::size_t longest = 0;
    for (const auto& e : residuals) longest = std::max(longest, e.size());
    const std::int64_t lastLag = std::min(kLongestLag, static_cast<std::int64_t>(longest / 2));
    PitchPredictor best;
    double bestScore = 0.0;
    for (std::int64_t lag = kShortestLag; lag <= lastLag; ++lag) {
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (const auto& e : residuals) {
            const auto l = static_cast<std::size_t>(lag);
            for (std::size_t t = l; t < e.size(); ++t) {
                xy += e[t] * e[t - l];
                xx += e[t] * e[t];
                yy += e[t - l] * e[t - l];
            }
        }
        if (!(xy > 0.0) || !(xx > 0.0) || !(yy > 0.0)) continue;
        const double score = xy * xy / (xx * yy);
        if (score > bestScore) {
            bestScore = score;
            best.lag = lag;
        }
    }
    if (best.lag == 0 || bestScore < 0.01) return {};
    // Three taps around the lag by least squares: a pitch period is rarely a whole number of frames.
    double a[3][3] = {}, b[3] = {};
    for (const auto& e : residuals) {
        const auto l = static_cast<std::size_t>(best.lag);
        for (std::size_t t = l + 1; t < e.size(); ++t) {
            for (std::size_t i = 0; i < 3; ++i) {
                const double u = e[t - l - 1 + i];
                b[i] += e[t] * u;
                for (std::size_t k = 0; k < 3; ++k) a[i][k] += u * e[t - l - 1 + k];
            }
        }
    }
    for (std::size_t i = 0; i < 3; ++i) a[i][i] *= 1.001;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!(a[i][i] > 0.0)) return {};
        for (std::size_t r = i + 1; r < 3; ++r) {
            const double f = a[r][i] / a[i][i];
            for (std::size_t k = i; k < 3; ++k) a[r][k] -= f * a[i][k];
            b[r] -= f * b[i];
        }
    }
    for (std::size_t i = 3; i-- > 0;) {
        double sum = b[i];
        for (std::size_t k = i + 1; k < 3; ++k) sum -= a[i][k] * best.beta[k];
        best.beta[i] = sum / a[i][i];
    }
    for (double v : best.beta)
        if (!std::isfinite(v)) return {};
    return best;
}

// Rebuilds channel[gap] as the samples that an autoregressive model fitted to the frames around
// the gap finds most likely: the excitation over the gap and the filter's length after it is
// made as small as it can be (least squares, solved by Cholesky). Unlike extrapolating from each
// side, every rebuilt frame is held by both sides at once, so a long span stays in place. The
// model also holds the pitch of the sound around the gap, when it has one: a millisecond or more of
// a vowel (a crackle's span) is rebuilt from the periods on either side, not faded out.
// Falls back to `interpolate` near the clip's ends or when the equations are singular.
void rebuildSpan(std::vector<float>& channel, FrameRange gap) {
    constexpr std::int64_t kOrder = 32;
    const auto size = static_cast<std::int64_t>(channel.size());
    const std::int64_t g = gap.count();
    const std::int64_t context = std::clamp<std::int64_t>(16 * g, 512, 2048);
    if (g <= 0 || gap.lower < context || gap.upper + context > size) {
        interpolate(channel, gap);
        return;
    }
    float* x = channel.data();
    std::vector<float> joined(static_cast<std::size_t>(2 * context));
    std::copy(x + gap.lower - context, x + gap.lower, joined.begin());
    std::copy(x + gap.upper, x + gap.upper + context, joined.begin() + context);
    const std::vector<float> c = lpc(joined, static_cast<int>(kOrder));
    // The prediction-error filter: e_t = Σ_j h[j]·x[t−j], h[0] = 1, h[j] = −c[j−1] …
    std::vector<double> h(static_cast<std::size_t>(kOrder + 1));
    h[0] = 1.0;
    for (std::int64_t j = 1; j <= kOrder; ++j) h[static_cast<std::size_t>(j)] = -static_cast<double>(c[static_cast<std::size_t>(j - 1)]);
    // … and, in voiced sound, that residual's own prediction one period back taken off.
    const FrameRange sides[2] = {{gap.lower - context, gap.lower}, {gap.upper, gap.upper + context}};
    const PitchPredictor pitch = pitchPredictor(x, h, sides);
    if (pitch.lag > 0) {
        std::vector<double> both(h.size() + static_cast<std::size_t>(pitch.lag) + 1, 0.0);
        for (std::size_t j = 0; j < h.size(); ++j) {
            both[j] += h[j];
            for (std::size_t k = 0; k < 3; ++k) both[j + static_cast<std::size_t>(pitch.lag) + 1 - k] -= pitch.beta[k] * h[j];
        }
        h = std::move(both);
    }
    const auto length = static_cast<std::int64_t>(h.size()) - 1;
    std::vector<std::int64_t> taps;  // the nonzero ones
    for (std::int64_t j = 0; j <= length; ++j)
        if (h[static_cast<std::size_t>(j)] != 0.0) taps.push_back(j);
    // The normal equations: m[a][b] = Σ_t h[t−a]·h[t−b] over every t the unknowns reach, which is
    // the filter's autocorrelation at |a − b|; rhs[a] = −Σ_t h[t−a]·(known part of e_t).
    const auto n = static_cast<std::size_t>(g);
    std::vector<double> autocorrelation(n, 0.0);
    for (std::size_t lag = 0; lag < n && lag <= static_cast<std::size_t>(length); ++lag)
        for (std::int64_t j : taps)
            if (static_cast<std::size_t>(j) >= lag) autocorrelation[lag] += h[static_cast<std::size_t>(j)] * h[static_cast<std::size_t>(j) - lag];
    std::vector<double> m(n * n), rhs(n, 0.0);
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = 0; b < n; ++b) m[a * n + b] = autocorrelation[a > b ? a - b : b - a];
    for (std::int64_t t = gap.lower; t < gap.upper + length; ++t) {
        double known = 0.0;
        for (std::int64_t j : taps) {
            const std::int64_t s = t - j;
            if (s < gap.lower || s >= gap.upper) known += h[static_cast<std::size_t>(j)] * x[s];
        }
        for (std::int64_t j : taps) {
            const std::int64_t s = t - j;
            if (s >= gap.lower && s < gap.upper) rhs[static_cast<std::size_t>(s - gap.lower)] -= h[static_cast<std::size_t>(j)] * known;
        }
    }
    // Cholesky: m = L·Lᵀ in place (lower triangle). m is banded (|i − j| ≤ the filter's length), and so is L.
    const auto band = static_cast<std::size_t>(length);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t first = i > band ? i - band : 0;
        for (std::size_t j = first; j <= i; ++j) {
            double sum = m[i * n + j];
            for (std::size_t k = first; k < j; ++k) sum -= m[i * n + k] * m[j * n + k];
            if (i == j) {
                if (!(sum > 1e-12)) {
                    interpolate(channel, gap);
                    return;
                }
                m[i * n + i] = std::sqrt(sum);
            } else {
                m[i * n + j] = sum / m[j * n + j];
            }
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        double sum = rhs[i];
        for (std::size_t k = i > band ? i - band : 0; k < i; ++k) sum -= m[i * n + k] * rhs[k];
        rhs[i] = sum / m[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) {
        double sum = rhs[i];
        for (std::size_t k = i + 1; k < std::min(n, i + band + 1); ++k) sum -= m[k * n + i] * rhs[k];
        rhs[i] = sum / m[i * n + i];
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(rhs[i])) {
            interpolate(channel, gap);
            return;
        }
    }
    for (std::size_t i = 0; i < n; ++i) x[gap.lower + static_cast<std::int64_t>(i)] = static_cast<float>(rhs[i]);
}

}  // namespace

std::size_t ClickRepair::repairedCount() const {
    return static_cast<std::size_t>(std::count(repaired.begin(), repaired.end(), true));
}

ClickRepair repairClicks(const AudioData& audio, std::span<const DiagnosticFinding> findings, double sensitivity) {
    const double s = std::isfinite(sensitivity) ? clampTo(sensitivity, 0.0, 1.0) : 0.5;
    const double factor = 30.0 - 26.0 * s;
    const double floor = (1.25 - s) * 0.004;
    const std::int64_t count = std::min(audio.frames(), static_cast<std::int64_t>(audio.right.size()));
    ClickRepair result;
    result.repaired.assign(findings.size(), false);
    if (count <= 0 || findings.empty()) {
        result.audio = audio;
        return result;
    }
    std::vector<float> left = audio.left.toVector();
    std::vector<float> right = audio.right.toVector();
    const float* original[2] = {audio.left.data(), audio.right.data()};
    std::vector<float> scratch;

    // 1. Each finding's span: one frame past the finding, then on while an edge frame of either
    // channel stands out in the audio as it was (by more than `share` of the detector's
    // threshold), up to `reach` frames.
    auto spreadOut = [&](FrameRange r, double share, std::int64_t reach) {
        const OutlierMeasure measures[2] = {OutlierMeasure(original[0], count, r, factor, floor, scratch),
                                            OutlierMeasure(original[1], count, r, factor, floor, scratch)};
        std::int64_t lo = std::max<std::int64_t>(r.lower - 1, 0);
        std::int64_t hi = std::min(r.upper + 1, count);
        const std::int64_t lowest = std::max<std::int64_t>(r.lower - reach, 0);
        const std::int64_t highest = std::min(r.upper + reach, count);
        while (lo > lowest && (measures[0].leftEdgeStandsOut(lo - 1, share) || measures[1].leftEdgeStandsOut(lo - 1, share))) --lo;
        while (hi < highest && (measures[0].rightEdgeStandsOut(hi, share) || measures[1].rightEdgeStandsOut(hi, share))) ++hi;
        return FrameRange{lo, hi};
    };
    std::vector<FrameRange> gaps(findings.size());
    std::vector<std::int64_t> spread(findings.size(), 1);
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const FrameRange r = clampedRange(findings[i].range, count);
        if (r.empty()) continue;
        gaps[i] = spreadOut(r, 1.0, kClickSpreadLimit);
        spread[i] = std::max(r.lower - gaps[i].lower, gaps[i].upper - r.upper);
    }
    // Two spans that touch, or whose findings are joined through frames that mostly stand out at
    // least half as much, are one defect (a crackle shows as a finding at each end): they are
    // rebuilt as one. Speech between two wrongly flagged frames does not stand out, and stays.
    auto bridged = [&](FrameRange a, FrameRange b) {
        if (b.lower - a.upper <= kClickMergeGap) return true;
        if (b.lower - a.upper > kClickSpreadLimit) return false;
        const FrameRange between{a.upper, b.lower};
        for (int c = 0; c < 2; ++c) {
            const OutlierMeasure measure(original[c], count, between, factor, floor, scratch);
            std::int64_t standing = 0;
            for (std::int64_t t = between.lower; t < between.upper; ++t)
                standing += measure.rightEdgeStandsOut(t, 0.5) || measure.leftEdgeStandsOut(t, 0.5);
            if (2 * standing >= between.count()) return true;
        }
        return false;
    };
    // Only a pair is joined: a longer chain of findings is a stretch of sound the detector keeps
    // flagging (a consonant's noise), not one defect.
    for (std::size_t i = 0; i + 1 < gaps.size();) {
        std::size_t last = i;
        while (last + 1 < gaps.size() && !gaps[last].empty() && !gaps[last + 1].empty() &&
               gaps[last + 1].lower >= gaps[last].lower && bridged(gaps[last], gaps[last + 1]))
            ++last;
        if (last == i + 1) {
            const FrameRange joined{gaps[i].lower, std::max(gaps[i].upper, gaps[last].upper)};
            if (joined.count() <= 2 * kMaxClickLength) gaps[i] = gaps[last] = joined;
        } else if (last > i + 1) {
            // Inside such a stretch nothing is spread over: each finding is rebuilt on its own frames
            // and one more at each side.
            for (std::size_t k = i; k <= last; ++k) {
                const FrameRange r = clampedRange(findings[k].range, count);
                gaps[k] = {std::max<std::int64_t>(r.lower - 1, 0), std::min(r.upper + 1, count)};
                spread[k] = 0;  // and never widened
            }
        }
        i = last + 1;
    }
    // A defect that shows as several findings is long and rings for longer: its span spreads on
    // while its edges stand out half as much.
    for (std::size_t i = 0; i < gaps.size();) {
        std::size_t last = i + 1;
        while (last < gaps.size() && !gaps[i].empty() && gaps[last] == gaps[i]) ++last;
        if (last - i > 1) {
            const FrameRange core{findings[i].range.lower, findings[last - 1].range.upper};
            const FrameRange wider = spreadOut(clampedRange(core, count), 0.5, 2 * kClickSpreadLimit);
            const FrameRange joined{std::min(wider.lower, gaps[i].lower), std::max(wider.upper, gaps[i].upper)};
            for (std::size_t k = i; k < last; ++k) gaps[k] = joined;
        }
        i = last;
    }
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        if (gaps[i].empty() || (i > 0 && gaps[i] == gaps[i - 1])) continue;
        rebuildSpan(left, gaps[i]);
        rebuildSpan(right, gaps[i]);
    }

    // 2. The check: the detector runs again around each repair; a finding still there gets a wider
    // span, twice at most, and is otherwise given back its frames as they were.
    constexpr int kAttempts = 3;
    auto stillDetected = [&](FrameRange gap) {
        const AudioData view(std::vector<float>(left.begin() + std::max<std::int64_t>(gap.lower - kClickBlock / 2, 0),
                                                left.begin() + std::min(gap.upper + kClickBlock / 2, count)),
                             std::vector<float>(right.begin() + std::max<std::int64_t>(gap.lower - kClickBlock / 2, 0),
                                                right.begin() + std::min(gap.upper + kClickBlock / 2, count)));
        const std::int64_t offset = std::max<std::int64_t>(gap.lower - kClickBlock / 2, 0);
        for (const DiagnosticFinding& f : detectClicks(view, {0, view.frames()}, s)) {
            const FrameRange r{f.range.lower + offset, f.range.upper + offset};
            if (r.lower < gap.upper + kClickMergeGap && r.upper > gap.lower - kClickMergeGap) return true;
        }
        return false;
    };
    std::vector<FrameRange> failed;
    for (std::size_t i = 0; i < findings.size();) {
        // Findings i … last − 1 share one span.
        std::size_t last = i + 1;
        while (last < findings.size() && gaps[last] == gaps[i]) ++last;
        if (gaps[i].empty()) {
            i = last;
            continue;
        }
        FrameRange gap = gaps[i];
        std::int64_t extra = 0;
        for (std::size_t k = i; k < last; ++k) extra = std::max(extra, spread[k]);
        bool fixed = !stillDetected(gap);
        const bool widens = extra > 0;
        for (int attempt = 1; !fixed && widens && attempt < kAttempts; ++attempt) {
            const std::int64_t wider = std::min(2 * extra + 8, 2 * kClickSpreadLimit) - extra;
            extra += wider;
            gap = {std::max<std::int64_t>(gap.lower - wider, 0), std::min(gap.upper + wider, count)};
            rebuildSpan(left, gap);
            rebuildSpan(right, gap);
            fixed = !stillDetected(gap);
        }
        for (std::size_t k = i; k < last; ++k) {
            result.repaired[k] = fixed;
            gaps[k] = gap;
        }
        if (!fixed) failed.push_back(gap);
        i = last;
    }
    if (!failed.empty()) {
        // Frames that a successful repair rebuilt keep that repair.
        std::vector<FrameRange> kept;
        for (std::size_t i = 0; i < findings.size(); ++i)
            if (result.repaired[i]) kept.push_back(gaps[i]);
        kept = mergedRanges(std::move(kept));
        for (const FrameRange& gap : failed) {
            for (std::int64_t t = gap.lower; t < gap.upper; ++t) {
                const auto k = std::upper_bound(kept.begin(), kept.end(), t, [](std::int64_t v, const FrameRange& g) { return v < g.lower; });
                if (k != kept.begin() && t < std::prev(k)->upper) continue;
                left[static_cast<std::size_t>(t)] = original[0][t];
                right[static_cast<std::size_t>(t)] = original[1][t];
            }
        }
    }
    result.audio = AudioData(std::move(left), std::move(right));
    return result;
}

AudioData declick(const AudioData& audio, std::span<const DiagnosticFinding> findings, double sensitivity) {
    return repairClicks(audio, findings, sensitivity).audio;
}

std::vector<FrameRange> silenceCuts(std::int64_t count, std::span<const DiagnosticFinding> findings, double keepPause) {
    std::int64_t half = 0;
    if (std::isfinite(keepPause)) {
        half = keepPause >= 10.0 ? 5 * kSampleRate : truncSaturating(std::max(keepPause, 0.0) * kSampleRate * 0.5);
    }
    std::vector<FrameRange> cuts;
    for (const DiagnosticFinding& f : findings) {
        if (f.range.count() <= 2 * half) continue;
        const FrameRange cut{std::clamp<std::int64_t>(f.range.lower + half, 0, count),
                             std::clamp<std::int64_t>(f.range.upper - half, 0, count)};
        if (!cut.empty()) cuts.push_back(cut);
    }
    return mergedRanges(std::move(cuts));
}

AudioData removeSilence(const AudioData& audio, std::span<const DiagnosticFinding> findings, double keepPause) {
    const std::int64_t count = audio.frames();
    const std::vector<FrameRange> cuts = silenceCuts(count, findings, keepPause);
    std::int64_t removed = 0;
    for (const FrameRange& c : cuts) removed += c.count();
    if (count == 0 || removed >= count) throw StudioError(L("Дорожка целиком состоит из тишины."));
    if (cuts.empty()) return audio;

    auto rebuild = [&](const SharedArray<float>& channel) {
        std::vector<float> out;
        out.reserve(static_cast<std::size_t>(count - removed));
        std::int64_t at = 0;
        for (const FrameRange& c : cuts) {
            out.insert(out.end(), channel.begin() + at, channel.begin() + c.lower);
            at = c.upper;
        }
        out.insert(out.end(), channel.begin() + at, channel.begin() + count);
        return out;
    };
    return AudioData(rebuild(audio.left), rebuild(audio.right));
}

AudioData muteSilence(const AudioData& audio, std::span<const DiagnosticFinding> findings) {
    const std::int64_t count = audio.frames();
    std::vector<float> left = audio.left.toVector();
    std::vector<float> right = audio.right.toVector();
    for (const DiagnosticFinding& f : findings) {
        const FrameRange r = clampedRange(f.range, count);
        std::fill(left.begin() + r.lower, left.begin() + r.upper, 0.0f);
        std::fill(right.begin() + r.lower, right.begin() + r.upper, 0.0f);
    }
    return AudioData(std::move(left), std::move(right));
}

std::optional<Cubic> cubicFit(std::span<const std::pair<double, double>> points, double center, double scale) {
    double m[4][4] = {};
    double rhs[4] = {};
    for (const auto& [x, y] : points) {
        const double u = (x - center) / scale;
        const double powers[7] = {1.0, u, u * u, u * u * u, u * u * u * u, u * u * u * u * u, u * u * u * u * u * u};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) m[r][c] += powers[r + c];
            rhs[r] += y * powers[r];
        }
    }
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r) {
            if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) pivot = r;
        }
        // A non-finite pivot (points or scale off the number line) is no fit either.
        if (!(std::fabs(m[pivot][col]) > 1e-12) || !std::isfinite(m[pivot][col])) return std::nullopt;
        if (pivot != col) {
            std::swap(m[pivot], m[col]);
            std::swap(rhs[pivot], rhs[col]);
        }
        for (int r = 0; r < 4; ++r) {
            if (r == col) continue;
            const double f = m[r][col] / m[col][col];
            if (f == 0.0) continue;
            for (int c = 0; c < 4; ++c) m[r][c] -= f * m[col][c];
            rhs[r] -= f * rhs[col];
        }
    }
    Cubic cubic;
    cubic.center = center;
    cubic.scale = scale;
    for (int k = 0; k < 4; ++k) {
        cubic.a[static_cast<std::size_t>(k)] = rhs[k] / m[k][k];
        if (!std::isfinite(cubic.a[static_cast<std::size_t>(k)])) return std::nullopt;
    }
    return cubic;
}

void reconstructClipped(std::vector<float>& output, std::span<const float> original, FrameRange span, float level) {
    const auto n = static_cast<std::int64_t>(std::min(output.size(), original.size()));
    const FrameRange scan = clampedRange(span, n);
    if (scan.empty()) return;
    auto clipped = [&](std::int64_t i) { return std::fabs(original[static_cast<std::size_t>(i)]) >= level; };

    std::vector<std::pair<double, double>> points;
    std::int64_t i = scan.lower;
    while (i < scan.upper) {
        if (!clipped(i)) {
            ++i;
            continue;
        }
        std::int64_t runStart = i;
        while (runStart > 0 && clipped(runStart - 1)) --runStart;
        std::int64_t runEnd = i + 1;
        while (runEnd < n && clipped(runEnd)) ++runEnd;
        const std::int64_t length = runEnd - runStart;
        const std::int64_t context = length < 16 ? 4 : std::min<std::int64_t>(length / 4, 32);

        points.clear();
        for (std::int64_t b = runStart - 1, taken = 0; b >= 0 && taken < context && !clipped(b); --b, ++taken) {
            points.emplace_back(static_cast<double>(b), original[static_cast<std::size_t>(b)]);
        }
        for (std::int64_t a = runEnd, taken = 0; a < n && taken < context && !clipped(a); ++a, ++taken) {
            points.emplace_back(static_cast<double>(a), original[static_cast<std::size_t>(a)]);
        }
        if (points.size() >= 4) {
            const double center = static_cast<double>(runStart + runEnd - 1) / 2.0;
            const double scale = static_cast<double>(length + 2 * context) / 2.0;
            if (const std::optional<Cubic> fit = cubicFit(points, center, scale)) {
                const double lo = level;
                const double hi = 4.0 * static_cast<double>(level);
                for (std::int64_t j = runStart; j < runEnd; ++j) {
                    const double sign = original[static_cast<std::size_t>(j)] < 0.0f ? -1.0 : 1.0;
                    output[static_cast<std::size_t>(j)] = static_cast<float>(sign * std::min(std::max(sign * (*fit)(static_cast<double>(j)), lo), hi));
                }
            }
        }
        i = runEnd;
    }
}

}  // namespace tessoral::Diagnostics

std::size_t std::hash<tessoral::DiagnosticFinding>::operator()(const tessoral::DiagnosticFinding& finding) const noexcept {
    std::size_t h = std::hash<tessoral::Uuid>{}(finding.id);
    auto mix = [&h](std::size_t v) { tessoral::hashCombine(h, v); };
    mix(static_cast<std::size_t>(finding.kind));
    mix(std::hash<std::int64_t>{}(finding.range.lower));
    mix(std::hash<std::int64_t>{}(finding.range.upper));
    mix(std::hash<double>{}(finding.severity));
    return h;
}
