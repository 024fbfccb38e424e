#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "model/AudioData.h"
#include "model/EffectParameters.h"
#include "model/EffectPreset.h"
#include "processing/EQUnit.h"

namespace tessoral {

class DynamicsProcessor;
class PeakLimiter;
class ReverbUnit;

namespace UnitGraph {

// The fourteen presets rendered by a unit graph: voice, lowCut, dehum50, dehum60, telephone, warm,
// bright, compressor, limiter, reverb, hall, cathedral, echo and distortion.
bool renders(EffectPreset preset);

// The four EQ bands of a preset's graph, every parameter read through value(); bands the preset
// does not use are bypassed (all four for the presets without EQ bands).
std::array<EQUnit::Band, EQUnit::kBands> eqBands(EffectPreset preset, const EffectParams& params);

}  // namespace UnitGraph

// Renders a unit-graph preset over the whole signal: the source → the four-band EQ unit → the
// preset's effect unit (dynamics processor, peak limiter, reverb, delay or distortion) when it has
// one, pulled in slices of 4096 frames. The result has exactly the input's length: nothing is
// compensated for latency, and what a reverb or echo would still produce after the input has ended
// is not rendered. The limiter's output is then scaled by its ceiling. Non-finite input samples
// count as silence. Throws StudioError: "Не удалось выделить память для звука." for an empty
// signal or when the result cannot be allocated, "Не удалось подготовить эффект." when the graph
// cannot be built (also for a preset that is not a unit graph).
AudioData renderUnitGraph(EffectPreset preset, const AudioData& audio, const EffectParams& params);

// A unit-graph preset's graph fed one slice at a time, for rendering the signal while it arrives.
// Fed the slices renderUnitGraph pulls (4096 frames each from the start of the signal, the last one
// shorter), in order, it gives the same samples to the bit. Throws StudioError "Не удалось
// подготовить эффект." when the graph cannot be built (also for a preset that is not a unit graph).
class UnitGraphStream {
public:
    UnitGraphStream(EffectPreset preset, const EffectParams& params);
    ~UnitGraphStream();
    UnitGraphStream(const UnitGraphStream&) = delete;
    UnitGraphStream& operator=(const UnitGraphStream&) = delete;

    // Renders the next `frames` frames (at most EffectUnit::kMaxFrames) of the input into the
    // output; the output may be the input itself.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 std::size_t frames) noexcept;

    // Room for what the steps of a split graph hand on to each other: a value and a sample of
    // each channel per frame.
    struct Scratch {
        double* values = nullptr;
        float* left = nullptr;
        float* right = nullptr;
        Scratch operator+(std::size_t frames) const { return {values + frames, left + frames, right + frames}; }
    };

    // Whether the graph's work splits into steps that may render on several threads (a
    // compressor, a limiter or a reverb without equaliser bands): prepare() of any frames, on any
    // thread and in any order (in order over the signal when preparesInOrder()); carry() of every
    // frame of the signal in order, each frame once prepared; finish() of any frames in any order
    // once they are carried. The three steps over the signal give the same samples as process();
    // each takes any number of frames, and frame i's scratch is `scratch + i`.
    bool splits() const { return dynamics_ != nullptr || limiter_ != nullptr || reverb_ != nullptr; }
    // Whether prepare() carries a state from frame to frame too (a reverb's diffusion).
    bool preparesInOrder() const { return reverb_ != nullptr; }
    void prepare(const float* inLeft, const float* inRight, Scratch scratch, std::size_t frames) noexcept;
    void carry(Scratch scratch, std::size_t frames) noexcept;
    // The output may be the input itself.
    void finish(Scratch scratch, const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                std::size_t frames) const noexcept;

private:
    std::unique_ptr<EQUnit> eq_;
    std::unique_ptr<EffectUnit> unit_;
    DynamicsProcessor* dynamics_ = nullptr;  // the unit, when the graph splits
    PeakLimiter* limiter_ = nullptr;         // the unit, when the graph splits
    ReverbUnit* reverb_ = nullptr;           // the unit, when the graph splits
    bool scaled_ = false;  // the limiter's output is scaled by its ceiling
    float gain_ = 1.0f;
};

}  // namespace tessoral
