#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "model/AudioData.h"
#include "model/EffectSlot.h"
#include "model/Session.h"
#include "model/Track.h"

namespace tessoral::RackRenderer {

// Runs the active slots (enabled, wet > 0) in order, each mixed with what entered it by its wet
// amount. Not cached. Throws what the effect throws, or StudioError when an effect changes the length.
AudioData apply(const std::vector<EffectSlot>& slots, const AudioData& audio);
// The same, asking `isCancelled` before each active slot; throws CancellationError when it says so.
AudioData apply(const std::vector<EffectSlot>& slots, const AudioData& audio,
                const std::function<bool()>& isCancelled);

// The clip's audio after its rack, through a process-wide cache keyed by the clip's revision and
// its active slots (128 MiB, oldest first out). Safe to call from any thread.
AudioData render(const Track& clip);

// The project mixed with every clip's rack applied.
AudioData mix(const Session& project, std::optional<TimeRange> range);

// Cache limits.
inline constexpr std::int64_t kCacheBudgetBytes = 134'217'728;
inline constexpr std::int64_t kMaxCachedFrames = 16'777'216;

// Cache statistics, for tests and benchmarks.
struct CacheStats {
    std::size_t entries = 0;
    std::int64_t bytes = 0;
};
CacheStats cacheStats();
// Whether the clip's current rack result is cached.
bool isCached(const Track& clip);

}  // namespace tessoral::RackRenderer
