#include "model/Track.h"

#include <algorithm>
#include <cmath>

#include "model/Limits.h"
#include "model/NumberFormat.h"

namespace tessoral {

Track Track::make(std::string name, AudioData audio) {
    Track t;
    t.name = std::move(name);
    t.audio = std::move(audio);
    t.refreshDrawingCaches();
    return t;
}

void Track::replaceAudio(AudioData newAudio) {
    audio = std::move(newAudio);
    refreshDrawingCaches();
    revision = Uuid::random();
}

void Track::refreshDrawingCaches() {
    peaks = SharedArray<float>(audio.peaks(limits::kPeakBins));
    leftEnvelope = SharedArray<EnvelopeBin>(audio.envelope(false, limits::kEnvelopeBins));
    rightEnvelope = SharedArray<EnvelopeBin>(audio.envelope(true, limits::kEnvelopeBins));
}

std::int64_t Track::bytes() const {
    std::int64_t b = audio.bytes();
    if (headHandle) b += headHandle->bytes();
    if (tailHandle) b += tailHandle->bytes();
    return b;
}

FrameRange Track::framesIn(const std::optional<TimeRange>& range) const {
    const std::int64_t n = frames();
    if (!range) return {0, n};
    const std::int64_t lower = clampTo<std::int64_t>(secondsToFrames(range->lower - start), 0, n);
    std::int64_t upper = clampTo<std::int64_t>(secondsToFrames(range->upper - start), 0, n);
    return {lower, std::max(upper, lower)};
}

std::string timeLabel(double seconds) {
    if (std::isnan(seconds) || seconds < 0) seconds = 0;
    // Truncated milliseconds; a huge time saturates instead of overflowing.
    const std::int64_t ms = truncSaturating(seconds * 1000.0);
    return num::padded(ms / 60000, 2) + ":" + num::padded((ms / 1000) % 60, 2) + "." + num::padded(ms % 1000, 3);
}

}  // namespace tessoral
