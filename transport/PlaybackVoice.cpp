#include "transport/PlaybackVoice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "model/Frames.h"
#include "model/Metronome.h"

namespace tessoral {

namespace MetronomeClicks {

const std::vector<float>& accentClick() {
    static const std::vector<float> click = Metronome::click(1760.0, 0.7f, kClickFrames);
    return click;
}

const std::vector<float>& normalClick() {
    static const std::vector<float> click = Metronome::click(1320.0, 0.38f, kClickFrames);
    return click;
}

std::vector<ClickPlacement> placements(const BeatGrid& grid, double start, std::int64_t frames) {
    if (frames < 1) return {};
    if (!std::isfinite(start)) start = 0.0;
    const std::int64_t startFrame = secondsToFrames(std::max(start, 0.0));
    const auto beats = grid.beats(TimeRange{std::max(start - 0.03, 0.0), start + framesToSeconds(frames)});
    if (!beats) return {};
    // Counted in double: the saturated ends of an absurd grid would overflow a subtraction.
    if (static_cast<double>(beats->last) - static_cast<double>(beats->first) >
        static_cast<double>(frames + kClickFrames))
        return {};
    const double beat = grid.beatSeconds();
    const std::int64_t perBar = grid.barBeats();
    std::vector<ClickPlacement> list;
    for (std::int64_t b = beats->first; b <= beats->last; ++b) {
        const std::int64_t beatFrame = secondsToFrames(static_cast<double>(b) * beat);
        // Both are frame counts of non-negative times far below the 64-bit range.
        const std::int64_t offset = beatFrame - startFrame;
        if (offset > -kClickFrames && offset < frames) list.push_back({offset, b % perBar == 0});
        if (b == beats->last) break;  // no increment past the last index
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const ClickPlacement& a, const ClickPlacement& b) { return a.offset < b.offset; });
    return list;
}

}  // namespace MetronomeClicks

PlaybackVoice::PlaybackVoice(AudioData audio, bool loop, std::vector<ClickPlacement> clicks, Uuid generation)
    : audio_(std::move(audio)),
      left_(audio_.left.data()),
      right_(audio_.right.data()),
      frames_(audio_.frames()),
      loop_(loop),
      clicks_(std::move(clicks)),
      accent_(MetronomeClicks::accentClick().data()),
      normal_(MetronomeClicks::normalClick().data()),
      generation_(generation) {}

void PlaybackVoice::process(const AudioBlock& block) noexcept {
    const std::int64_t n = std::max<std::int64_t>(block.frames, 0);
    float* left = block.outputChannels > 0 ? block.output[0] : nullptr;
    float* right = block.outputChannels > 1 ? block.output[1] : nullptr;
    for (int c = 2; c < block.outputChannels; ++c) std::fill(block.output[c], block.output[c] + n, 0.0f);
    std::int64_t o = 0;
    const bool hushed = hushed_.load(std::memory_order_relaxed);
    while (!hushed && o < n && frames_ > 0 && (loop_ || cursor_ < frames_)) {
        const std::int64_t pos = loop_ ? cursor_ % frames_ : cursor_;
        const std::int64_t seg = std::min(n - o, frames_ - pos);
        const auto bytes = static_cast<std::size_t>(seg) * sizeof(float);
        if (left) std::memcpy(left + o, left_ + pos, bytes);
        if (right) std::memcpy(right + o, right_ + pos, bytes);
        addClicks(pos, pos + seg, left ? left + o : nullptr, right ? right + o : nullptr);
        cursor_ += seg;
        o += seg;
    }
    if (o < n) {
        if (left) std::fill(left + o, left + n, 0.0f);
        if (right) std::fill(right + o, right + n, 0.0f);
    }
    played_.store(cursor_, std::memory_order_release);
    cycles_.fetch_add(1, std::memory_order_relaxed);
    if (!loop_ && cursor_ >= frames_ && !finished_.load(std::memory_order_relaxed)) {
        // The last frame is the o-th of this cycle: it is heard o frames after the cycle's first.
        const double rest = static_cast<double>(o) / kSampleRate;
        const bool stamped = std::isfinite(block.outputTime) && std::isfinite(block.now) && block.outputTime >= block.now &&
                             block.outputTime > 0.0;
        heardEnd_.store(stamped ? block.outputTime + rest : NAN, std::memory_order_relaxed);
        cycleEnd_.store((std::isfinite(block.now) ? block.now : 0.0) + rest, std::memory_order_relaxed);
        finished_.store(true, std::memory_order_release);
    }
}

std::optional<double> PlaybackVoice::lastFrameHeard() const {
    if (!finished()) return std::nullopt;
    const double t = heardEnd_.load(std::memory_order_relaxed);
    if (std::isnan(t)) return std::nullopt;
    return t;
}

void PlaybackVoice::addClicks(std::int64_t from, std::int64_t to, float* left, float* right) const noexcept {
    using MetronomeClicks::kClickFrames;
    // The first click still sounding at `from`.
    auto it = std::upper_bound(clicks_.begin(), clicks_.end(), from - kClickFrames,
                               [](std::int64_t v, const ClickPlacement& c) { return v < c.offset; });
    for (; it != clicks_.end() && it->offset < to; ++it) {
        const float* sound = it->accent ? accent_ : normal_;
        const std::int64_t a = std::max(from, it->offset);
        const std::int64_t b = std::min(to, it->offset + kClickFrames);
        for (std::int64_t i = a; i < b; ++i) {
            const float s = sound[i - it->offset];
            if (left) left[i - from] += s;
            if (right) right[i - from] += s;
        }
    }
}

}  // namespace tessoral
