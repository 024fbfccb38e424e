#pragma once

#include <cstddef>

namespace tessoral {

// One offline processing unit of an effect graph. A unit is configured before rendering, allocates
// everything it needs when it is made or configured, and then processes the signal in slices of at
// most kMaxFrames frames, in order, both channels in place. process() never allocates, never
// throws, and never writes a NaN or an infinity, whatever the unit's parameters and input.
class EffectUnit {
public:
    static constexpr std::size_t kMaxFrames = 4096;

    EffectUnit() = default;
    EffectUnit(const EffectUnit&) = delete;
    EffectUnit& operator=(const EffectUnit&) = delete;
    virtual ~EffectUnit() = default;

    virtual void process(float* left, float* right, std::size_t frames) noexcept = 0;
};

}  // namespace tessoral
