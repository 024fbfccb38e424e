#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/AudioData.h"
#include "model/BeatGrid.h"
#include "model/Uuid.h"
#include "transport/AudioBackend.h"

namespace tessoral {

// Where one metronome click starts in the played buffer (frame offset, possibly before its
// first frame) and whether it is the bar's accent.
struct ClickPlacement {
    std::int64_t offset = 0;
    bool accent = false;
    friend bool operator==(const ClickPlacement&, const ClickPlacement&) = default;
};

namespace MetronomeClicks {

// A click lasts 1440 frames (30 ms).
inline constexpr std::int64_t kClickFrames = 1440;

// The clicks heard in a buffer of `frames` frames whose first frame sounds at timeline second
// `start`: every beat of the grid from 30 ms before `start` to the buffer's end, the accent on
// beat indices that are multiples of the beats per bar (counted from timeline zero). Clicks
// lying wholly outside the buffer are left out; the list is ordered by offset. A grid with
// more beats than the buffer has frames gives none.
std::vector<ClickPlacement> placements(const BeatGrid& grid, double start, std::int64_t frames);

// The two click sounds: accent 1760 Hz at 0.7, normal 1320 Hz at 0.38.
const std::vector<float>& accentClick();
const std::vector<float>& normalClick();

}  // namespace MetronomeClicks

// The real-time side of one playback: plays the given audio from its first frame, once or
// looped, with the metronome clicks added to both channels as it goes (the audio itself is
// shared, never copied or changed). Its render step runs on the audio thread; the main
// thread reads how far it got.
class PlaybackVoice final : public AudioCallback {
public:
    PlaybackVoice(AudioData audio, bool loop, std::vector<ClickPlacement> clicks, Uuid generation);

    void process(const AudioBlock& block) noexcept override;

    // Frames rendered since the start, counting on past the end while looping; −1 before the
    // first render cycle.
    std::int64_t playedFrames() const { return played_.load(std::memory_order_acquire); }
    // The last frame of a non-looping playback has been rendered.
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    // Once finished: when (on the stream's clock) the last frame will have been heard, from the
    // device's output timestamp; none when the device stamped no output time, and then
    // finishedCycleEnd() + the stream's output latency stands in for it.
    std::optional<double> lastFrameHeard() const;
    // Once finished: the time the cycle that rendered the last frame began, plus that frame's
    // place in the cycle.
    double finishedCycleEnd() const { return cycleEnd_.load(std::memory_order_acquire); }
    const Uuid& generation() const { return generation_; }
    // Render cycles so far (a device that stopped calling leaves it standing).
    std::uint64_t cycles() const { return cycles_.load(std::memory_order_relaxed); }
    // From now on every cycle is silence: the stream may go on calling while its device stops.
    void hush() { hushed_.store(true, std::memory_order_relaxed); }

private:
    void addClicks(std::int64_t from, std::int64_t to, float* left, float* right) const noexcept;

    const AudioData audio_;
    const float* const left_;
    const float* const right_;
    const std::int64_t frames_;
    const bool loop_;
    const std::vector<ClickPlacement> clicks_;
    const float* const accent_;
    const float* const normal_;
    const Uuid generation_;
    std::int64_t cursor_ = 0;  // audio thread only
    std::atomic<std::int64_t> played_{-1};
    std::atomic<bool> finished_{false};
    std::atomic<double> heardEnd_{0.0};  // NaN when the output time was unknown
    std::atomic<double> cycleEnd_{0.0};
    std::atomic<std::uint64_t> cycles_{0};
    std::atomic<bool> hushed_{false};

    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
    static_assert(std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<double>::is_always_lock_free);
};

}  // namespace tessoral
