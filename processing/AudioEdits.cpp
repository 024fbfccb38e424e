#include "processing/AudioEdits.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "model/Limits.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/VectorOps.h"
#include "processing/Loudness.h"

namespace tessoral::AudioEdits {

namespace {

constexpr double kNormalizeTargetLUFS = -16.0;

// Multiplies the frames of `range` in both channels by factor(i), i the offset inside the range.
template <class Factor>
AudioData scaledRange(const AudioData& audio, FrameRange range, Factor factor) {
    AudioData out = audio;
    // Writing one channel must not change the other when both share one array.
    if (out.left.sharesStorageWith(out.right)) out.right = SharedArray<float>(out.right.toVector());
    float* l = out.left.mutableVector().data();
    float* r = out.right.mutableVector().data();
    for (std::int64_t f = range.lower; f < range.upper; ++f) {
        const float g = factor(f - range.lower);
        l[f] *= g;
        r[f] *= g;
    }
    return out;
}

AudioData constantGain(const AudioData& audio, FrameRange range, float g) {
    return scaledRange(audio, range, [g](std::int64_t) { return g; });
}

}  // namespace

AudioData apply(EditAction action, const AudioData& audio, FrameRange range, double gainDB) {
    const std::int64_t total = audio.frames();
    if (range.lower < 0 || range.upper <= range.lower || range.upper > total)
        throw StudioError(L("Выделите фрагмент внутри выбранного клипа."));
    const std::int64_t n = range.count();

    switch (action) {
        case EditAction::delete_: {
            if (n >= total) throw StudioError(L("Чтобы удалить весь клип, используйте «Удалить клип»."));
            auto cut = [&](const SharedArray<float>& ch) {
                std::vector<float> out;
                out.reserve(static_cast<std::size_t>(total - n));
                out.insert(out.end(), ch.begin(), ch.begin() + range.lower);
                out.insert(out.end(), ch.begin() + range.upper, ch.end());
                return out;
            };
            return AudioData(cut(audio.left), cut(audio.right));
        }
        case EditAction::trim:
            return audio.slice(range);
        case EditAction::reverse: {
            AudioData out = audio;
            if (out.left.sharesStorageWith(out.right)) out.right = SharedArray<float>(out.right.toVector());
            auto& l = out.left.mutableVector();
            auto& r = out.right.mutableVector();
            std::reverse(l.begin() + range.lower, l.begin() + range.upper);
            std::reverse(r.begin() + range.lower, r.begin() + range.upper);
            return out;
        }
        case EditAction::normalize: {
            const auto gain = Loudness::normalizationGain(audio.slice(range), kNormalizeTargetLUFS);
            if (!gain) return audio;
            return constantGain(audio, range, *gain);
        }
        case EditAction::peak: {
            const auto len = static_cast<std::size_t>(n);
            const float m = std::max(vec::maxMagnitude(audio.left.data() + range.lower, len),
                                     vec::maxMagnitude(audio.right.data() + range.lower, len));
            // Silence, and a peak so deep in the subnormal range that its factor lies beyond
            // single precision, are left as they are.
            const std::optional<float> g = Loudness::peakNormalizationFactor(m);
            if (!g) return audio;
            return constantGain(audio, range, *g);
        }
        case EditAction::gain: {
            const auto g = static_cast<float>(std::pow(10.0, gainDB / 20.0));
            // A NaN or infinite factor would write samples no project file can hold.
            if (!std::isfinite(g)) return audio;
            return constantGain(audio, range, g);
        }
        case EditAction::fadeIn:
        case EditAction::fadeOut: {
            const auto span = static_cast<float>(std::max<std::int64_t>(n - 1, 1));
            const bool in = action == EditAction::fadeIn;
            return scaledRange(audio, range, [span, in](std::int64_t i) {
                const float t = static_cast<float>(i) / span;
                return in ? t : 1.0f - t;
            });
        }
        case EditAction::silence:
            return constantGain(audio, range, 0.0f);
    }
    return audio;
}

AudioData paste(const AudioData& inserted, const AudioData& target, std::int64_t at) {
    const std::int64_t total = target.frames();
    if (total + inserted.frames() > limits::kMaxFrames) throw StudioError(L("Длина клипа ограничена 8 минутами."));
    const std::int64_t p = clampTo<std::int64_t>(at, 0, total);
    auto join = [p](const SharedArray<float>& base, const SharedArray<float>& piece) {
        std::vector<float> out;
        out.reserve(base.size() + piece.size());
        out.insert(out.end(), base.begin(), base.begin() + p);
        out.insert(out.end(), piece.begin(), piece.end());
        out.insert(out.end(), base.begin() + p, base.end());
        return out;
    };
    return AudioData(join(target.left, inserted.left), join(target.right, inserted.right));
}

}  // namespace tessoral::AudioEdits
