#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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

// Cache limits.
inline constexpr std::int64_t kCacheBudgetBytes = 134'217'728;
inline constexpr std::int64_t kMaxCachedFrames = 16'777'216;

struct CacheStats {
    std::size_t entries = 0;
    std::int64_t bytes = 0;
};

// A cached result's key: the clip's audio revision and its active slots in rack order.
struct CachedKey {
    Uuid revision;
    std::vector<EffectSlot> slots;
    friend bool operator==(const CachedKey&, const CachedKey&) = default;
};

// Rack results keyed by the clip's revision and its active slots, 128 MiB at most, oldest first
// out. The program uses one for the whole process (shared()); tests make their own. Safe to use
// from any thread.
class Cache {
public:
    Cache();
    ~Cache();
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    static Cache& shared();

    CacheStats stats() const;
    // The keys, oldest first.
    std::vector<CachedKey> keys() const;
    // Whether the clip's current rack result is cached.
    bool contains(const Track& clip) const;

    struct State;

private:
    std::unique_ptr<State> state_;
    friend State& stateOf(Cache& cache);
};

// The clip's audio after its rack, through the cache. The rack renders on the worker pool's
// threads and this one, to the same samples as apply().
AudioData render(const Track& clip, Cache& cache = Cache::shared());

// How many clips a mix renders at once by default: one per core.
unsigned defaultRenderThreads();

// The project mixed with every clip's rack applied. The racks of up to `threads` clips render at
// once (and a rack on several threads when there are fewer racks than threads); the cache sees the same look-ups and insertions, in the same order, as when the clips
// render one after another (threads 1), and the mix is the same to the bit.
AudioData mix(const Session& project, std::optional<TimeRange> range, Cache& cache = Cache::shared(),
              unsigned threads = defaultRenderThreads());

// render() of each clip in turn, the racks rendering in parallel as in mix().
std::vector<AudioData> renderAll(const std::vector<Track>& clips, Cache& cache = Cache::shared(),
                                 unsigned threads = defaultRenderThreads());

// For tests: called as each active slot starts to render, and when it renders on several threads
// as it starts each part (a chunk of the signal, a range of a channel), on the thread that renders
// it; what it throws fails the render as the effect's own error would. Empty to remove it.
void setSlotProbe(std::function<void(const EffectSlot&)> probe);

// The shared cache's statistics, for tests and benchmarks.
CacheStats cacheStats();
// Whether the clip's current rack result is in the shared cache.
bool isCached(const Track& clip);

}  // namespace tessoral::RackRenderer
