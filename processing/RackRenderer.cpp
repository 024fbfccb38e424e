#include "processing/RackRenderer.h"

#include <deque>
#include <mutex>
#include <unordered_map>

#include "model/Hashing.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/AudioIOEffect.h"

namespace tessoral::RackRenderer {

namespace {

bool isActive(const EffectSlot& slot) { return slot.enabled && slot.wet > 0; }

struct Key {
    Uuid revision;
    std::vector<EffectSlot> slots;
    friend bool operator==(const Key&, const Key&) = default;
};

struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept {
        std::size_t h = std::hash<Uuid>{}(k.revision);
        auto mix = [&h](std::size_t v) { hashCombine(h, v); };
        for (const auto& s : k.slots) {
            mix(std::hash<Uuid>{}(s.id));
            mix(static_cast<std::size_t>(s.preset));
            mix(std::hash<double>{}(s.wet));
            for (const auto& [name, value] : s.params) {
                mix(std::hash<std::string>{}(name));
                mix(std::hash<double>{}(value));
            }
        }
        return h;
    }
};

struct Cache {
    std::mutex lock;
    std::unordered_map<Key, AudioData, KeyHash> entries;
    std::deque<Key> order;  // oldest first
    std::int64_t bytes = 0;
};

Cache& cache() {
    static Cache c;
    return c;
}

AudioData run(const std::vector<EffectSlot>& slots, const AudioData& audio, const std::function<bool()>* isCancelled) {
    AudioData current = audio;
    for (const auto& slot : slots) {
        if (!isActive(slot)) continue;
        if (isCancelled && *isCancelled && (*isCancelled)()) throw CancellationError();
        AudioData rendered = AudioIO::effect(slot.preset, current, slot.params);
        const std::int64_t n = rendered.frames();
        if (n != current.frames() || static_cast<std::int64_t>(rendered.right.size()) != n)
            throw StudioError(L("Эффект изменил длину клипа."));
        const auto w = static_cast<float>(slot.wet);
        if (w < 1.0f) {
            const float dry = 1.0f - w;
            std::vector<float> l(static_cast<std::size_t>(n)), r(static_cast<std::size_t>(n));
            const float *cl = current.left.data(), *cr = current.right.data();
            const float *pl = rendered.left.data(), *pr = rendered.right.data();
            for (std::int64_t i = 0; i < n; ++i) {
                l[i] = dry * cl[i] + w * pl[i];
                r[i] = dry * cr[i] + w * pr[i];
            }
            current = AudioData(std::move(l), std::move(r));
        } else {
            current = std::move(rendered);
        }
    }
    return current;
}

}  // namespace

AudioData apply(const std::vector<EffectSlot>& slots, const AudioData& audio) { return run(slots, audio, nullptr); }

AudioData apply(const std::vector<EffectSlot>& slots, const AudioData& audio,
                const std::function<bool()>& isCancelled) {
    return run(slots, audio, &isCancelled);
}

AudioData render(const Track& clip) {
    std::vector<EffectSlot> active;
    for (const auto& s : clip.rack)
        if (isActive(s)) active.push_back(s);
    if (clip.rackBypassed || active.empty()) return clip.audio;

    Key key{clip.revision, std::move(active)};
    Cache& c = cache();
    {
        std::lock_guard guard(c.lock);
        if (auto it = c.entries.find(key); it != c.entries.end()) return it->second;
    }
    AudioData result = RackRenderer::apply(key.slots, clip.audio);
    if (result.frames() > kMaxCachedFrames) return result;

    std::lock_guard guard(c.lock);
    if (c.entries.count(key)) return result;
    const std::int64_t cost = result.bytes();
    while (c.bytes + cost > kCacheBudgetBytes && !c.order.empty()) {
        auto it = c.entries.find(c.order.front());
        if (it != c.entries.end()) {
            c.bytes -= it->second.bytes();
            c.entries.erase(it);
        }
        c.order.pop_front();
    }
    c.entries.try_emplace(key, result);
    c.order.push_back(std::move(key));
    c.bytes += cost;
    return result;
}

AudioData mix(const Session& project, std::optional<TimeRange> range) {
    return project.mixed(range, [](const Track& clip) { return render(clip); });
}

CacheStats cacheStats() {
    Cache& c = cache();
    std::lock_guard guard(c.lock);
    return {c.entries.size(), c.bytes};
}

bool isCached(const Track& clip) {
    std::vector<EffectSlot> active;
    for (const auto& s : clip.rack)
        if (isActive(s)) active.push_back(s);
    Key key{clip.revision, std::move(active)};
    Cache& c = cache();
    std::lock_guard guard(c.lock);
    return c.entries.count(key) != 0;
}

}  // namespace tessoral::RackRenderer
