#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/AudioData.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/EffectUnit.h"

namespace tessoral {

// The outcome of one pull from an offline graph.
enum class RenderStatus { success, insufficientData, cannotDoInCurrentContext, error };

struct RenderResult {
    RenderStatus status = RenderStatus::success;
    std::size_t frames = 0;  // frames delivered into the output slice
};

// The offline render loop shared by the effect graphs and the time/pitch processor: pulls slices
// of at most EffectUnit::kMaxFrames frames until `target` frames are rendered and returns them.
// `render(left, right, requested)` fills up to `requested` frames and reports its status. A status
// of error fails with `processingMessage`; the 31st consecutive pull that yields no frames fails with
// `notRespondingMessage` (both finished, localised texts). The result arrays are reserved up front;
// a failure to reserve them fails with the localised "out of memory for audio" message.
template <class Render>
AudioData runOfflineRender(std::int64_t target, Render&& render, const std::string& processingMessage,
                           const std::string& notRespondingMessage) {
    const auto total = static_cast<std::size_t>(std::max<std::int64_t>(target, 0));
    std::vector<float> left, right;
    try {
        left.reserve(total);
        right.reserve(total);
    } catch (const std::bad_alloc&) {
        throw StudioError(L("Не удалось выделить память для звука."));
    }
    std::vector<float> sliceLeft(EffectUnit::kMaxFrames), sliceRight(EffectUnit::kMaxFrames);
    int idle = 0;
    while (left.size() < total) {
        const std::size_t requested = std::min(total - left.size(), EffectUnit::kMaxFrames);
        const RenderResult result = render(sliceLeft.data(), sliceRight.data(), requested);
        const bool delivered = (result.status == RenderStatus::success ||
                                result.status == RenderStatus::insufficientData) &&
                               result.frames > 0;
        if (delivered) {
            const std::size_t n = std::min(result.frames, requested);
            left.insert(left.end(), sliceLeft.begin(), sliceLeft.begin() + static_cast<std::ptrdiff_t>(n));
            right.insert(right.end(), sliceRight.begin(), sliceRight.begin() + static_cast<std::ptrdiff_t>(n));
            idle = 0;
            continue;
        }
        if (result.status == RenderStatus::error) throw StudioError(processingMessage);
        if (idle >= 30) throw StudioError(notRespondingMessage);
        ++idle;
    }
    return AudioData(std::move(left), std::move(right));
}

}  // namespace tessoral
