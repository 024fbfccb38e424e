#pragma once

#include <cstddef>
#include <span>
#include <vector>

// Short-time spectral dynamics of one channel.
namespace tessoral::SpectralDynamics {

// De-esses one channel: frames (1024 samples, Hann, quarter hop) whose level in the sibilance band
// lowFrequency … 10500 Hz exceeds sensitivity × the channel's mean band level are turned down in
// that band, never below the linear gain `floor`, with instant attack and a smooth release.
// Same length out as in; an empty channel is returned unchanged. lowFrequency is expected in
// 0 … 10546 Hz (callers pass 2000 … 9000); a value outside is clamped into that band.
std::vector<float> deessChannel(std::span<const float> samples, float sensitivity, float floor, double lowFrequency);

// deessChannel() in steps that several threads can share, to the same samples:
//   1. measure() over frame ranges that together cover 0 … frames() once, and copyInput(), in any
//      order and on any threads;
//   2. settle(), once all of those have returned;
//   3. render() over sample ranges that together cover 0 … size() once, in any order and on any
//      threads (each writes only inside its own range);
//   4. take().
// Instead of copyInput() in step 1, an output buffer may be handed over with useOutput() before
// step 3, and each range copied into it with copyInput(begin, end) just before its render().
// The samples must stay alive and unchanged until take(). Each call transforms with its own
// scratch; the object itself holds the output, a level and a gain per frame (1/64 of the input).
class ChannelDeesser {
public:
    ChannelDeesser(std::span<const float> samples, float sensitivity, float floor, double lowFrequency);

    // Analysis frames: 4 + (size() + 1024) / 256 for a channel that is not empty, else 0.
    std::size_t frames() const { return level_.size(); }
    std::size_t size() const { return samples_.size(); }

    // The band level of frames first … last − 1.
    void measure(std::size_t first, std::size_t last);
    // Analysis frames of a channel of `samples` samples (frames()), and how far into such a
    // channel measure() of frames before `last` reads: only the samples before the one returned.
    static std::size_t framesFor(std::size_t samples);
    static std::size_t measuredEnd(std::size_t samples, std::size_t last);
    // The input copied into the output, which render() then corrects.
    void copyInput();
    // A buffer of size() samples (of any contents) to become the output, and samples
    // begin … end − 1 of the input copied into it.
    void useOutput(std::vector<float> out);
    void copyInput(std::size_t begin, std::size_t end);
    // The threshold from the mean level, and each frame's gain (serial, cheap).
    void settle();
    // Samples begin … end − 1 of the output: every turned-down frame that overlaps them, taken in
    // frame order, so that each sample receives its corrections in the same order as in one pass.
    void render(std::size_t begin, std::size_t end);
    // The output; the object is spent.
    std::vector<float> take() { return std::move(out_); }

    // Part `index` of `count` near-equal ranges of 0 … total (for splitting frames or samples).
    static std::size_t partStart(std::size_t total, std::size_t count, std::size_t index);

private:
    std::span<const float> samples_;
    float sensitivity_;
    float floor_;
    int lowBin_;
    std::vector<float> window_;     // analysis
    std::vector<float> synthesis_;  // the window scaled for overlap-add and the inverse's factor n
    std::vector<float> weight_;     // the band's taper, per bin
    std::vector<float> level_;      // per frame
    std::vector<float> gain_;       // per frame, after settle()
    std::vector<float> out_;
};

}  // namespace tessoral::SpectralDynamics
