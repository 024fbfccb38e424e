#include "processing/RackRenderer.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "model/Hashing.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "processing/AudioIOEffect.h"
#include "processing/WorkerPool.h"

namespace tessoral::RackRenderer {

namespace {

bool isActive(const EffectSlot& slot) { return slot.enabled && slot.wet > 0; }

using Key = CachedKey;

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

// The clip's key; none when the rack is bypassed or has no active slot (the clip's own audio is
// the result then, and the cache is not touched).
std::optional<Key> keyOf(const Track& clip) {
    if (clip.rackBypassed) return std::nullopt;
    std::vector<EffectSlot> active;
    for (const auto& s : clip.rack)
        if (isActive(s)) active.push_back(s);
    if (active.empty()) return std::nullopt;
    return Key{clip.revision, std::move(active)};
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

struct Cache::State {
    struct Entry {
        AudioData audio;
        std::uint64_t serial = 0;  // insertion number: `order` holds the keys by increasing serial
    };

    mutable std::mutex lock;
    std::unordered_map<Key, Entry, KeyHash> entries;
    std::deque<Key> order;  // oldest first
    std::int64_t bytes = 0;
    std::uint64_t nextSerial = 0;

    // Stores a fresh result, evicting the oldest entries while the budget would be exceeded (all
    // of them, if need be). A key cached meanwhile by another caller keeps its entry. Under `lock`.
    void insert(const Key& key, const AudioData& result) {
        if (entries.count(key)) return;
        const std::int64_t cost = result.bytes();
        while (bytes + cost > kCacheBudgetBytes && !order.empty()) {
            auto it = entries.find(order.front());
            if (it != entries.end()) {
                bytes -= it->second.audio.bytes();
                entries.erase(it);
            }
            order.pop_front();
        }
        entries.try_emplace(key, Entry{result, nextSerial++});
        order.push_back(key);
        bytes += cost;
    }
};

Cache::State& stateOf(Cache& cache) { return *cache.state_; }

Cache::Cache() : state_(std::make_unique<State>()) {}
Cache::~Cache() = default;

Cache& Cache::shared() {
    static Cache c;
    return c;
}

CacheStats Cache::stats() const {
    std::lock_guard guard(state_->lock);
    return {state_->entries.size(), state_->bytes};
}

std::vector<CachedKey> Cache::keys() const {
    std::lock_guard guard(state_->lock);
    return {state_->order.begin(), state_->order.end()};
}

bool Cache::contains(const Track& clip) const {
    const auto key = keyOf(clip);
    if (!key) return false;
    std::lock_guard guard(state_->lock);
    return state_->entries.count(*key) != 0;
}

AudioData apply(const std::vector<EffectSlot>& slots, const AudioData& audio) { return run(slots, audio, nullptr); }

AudioData apply(const std::vector<EffectSlot>& slots, const AudioData& audio,
                const std::function<bool()>& isCancelled) {
    return run(slots, audio, &isCancelled);
}

AudioData render(const Track& clip, Cache& cache) {
    const auto key = keyOf(clip);
    if (!key) return clip.audio;
    Cache::State& c = stateOf(cache);
    {
        std::lock_guard guard(c.lock);
        if (auto it = c.entries.find(*key); it != c.entries.end()) return it->second.audio;
    }
    AudioData result = RackRenderer::apply(key->slots, clip.audio);
    if (result.frames() > kMaxCachedFrames) return result;
    std::lock_guard guard(c.lock);
    c.insert(*key, result);
    return result;
}

namespace {

// Racks rendering on the worker pool, taken by one consumer in order. At most `window` results
// wait ahead of the consumer, so memory stays near what a few clips need.
struct Jobs : std::enable_shared_from_this<Jobs> {
    struct Input {
        std::vector<EffectSlot> slots;
        AudioData audio;
    };
    std::vector<Input> inputs;
    std::vector<std::optional<AudioData>> results;
    std::vector<std::exception_ptr> errors;

    std::mutex lock;
    std::condition_variable changed;
    std::size_t claimed = 0;   // jobs 0 … claimed − 1 have been taken up
    std::size_t consumed = 0;  // jobs the consumer has taken its result of
    std::size_t running = 0;   // renders under way
    unsigned workers = 0;      // pool jobs posted and not yet ended
    unsigned maxWorkers = 1;
    std::size_t window = 1;
    std::atomic<bool> cancelled{false};

    // Under `lock`.
    std::size_t claimable() const {
        if (cancelled) return 0;
        const std::size_t end = std::min(inputs.size(), consumed + window);
        return end > claimed ? end - claimed : 0;
    }

    // Under `lock`: more pool jobs while there is work nobody has taken up.
    void topUp() {
        const std::size_t open = claimable();
        const std::size_t idle = workers > running ? workers - running : 0;  // posted, about to take one up
        std::size_t wanted = open > idle ? open - idle : 0;
        for (; workers < maxWorkers && wanted > 0; --wanted) {
            ++workers;
            WorkerPool::post([self = shared_from_this()] { self->work(); });
        }
    }

    void work() {
        for (;;) {
            std::size_t j = 0;
            {
                std::lock_guard guard(lock);
                if (claimable() == 0) {
                    --workers;
                    changed.notify_all();
                    return;
                }
                j = claimed++;
                ++running;
            }
            renderOne(j);
        }
    }

    // Outside `lock`; job j has been claimed by the caller.
    void renderOne(std::size_t j) {
        std::optional<AudioData> result;
        std::exception_ptr error;
        try {
            result = apply(inputs[j].slots, inputs[j].audio, [this] { return cancelled.load(); });
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard guard(lock);
            results[j] = std::move(result);
            errors[j] = error;
            --running;
        }
        changed.notify_all();
    }

    // Job j's result, rendering it on this thread when no worker has taken it up yet. Jobs are
    // taken in order.
    AudioData take(std::size_t j) {
        std::unique_lock guard(lock);
        while (!results[j] && !errors[j]) {
            if (claimed == j) {
                ++claimed;
                ++running;
                guard.unlock();
                renderOne(j);
                guard.lock();
            } else {
                changed.wait(guard);
            }
        }
        consumed = j + 1;
        topUp();
        if (errors[j]) std::rethrow_exception(errors[j]);
        AudioData result = std::move(*results[j]);
        results[j].reset();
        return result;
    }

    // Stops what has not started and waits for the renders under way.
    void cancel() {
        cancelled = true;
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return running == 0; });
    }
};

// The renders of a list of clips in the order render() would be called for them one after
// another. Which look-ups hit and which results are inserted is decided up front, by playing the
// cache's rules over the list; the renders that miss then run in parallel, and each result is
// inserted when the consumer takes it, in list order.
class OrderedRenders {
public:
    OrderedRenders(const std::vector<const Track*>& clips, Cache& cache, unsigned threads)
        : cache_(stateOf(cache)), jobs_(std::make_shared<Jobs>()) {
        plan(clips);
        jobs_->results.resize(jobs_->inputs.size());
        jobs_->errors.resize(jobs_->inputs.size());
        jobs_->maxWorkers = std::max(threads, 1u);
        jobs_->window = jobs_->maxWorkers + 2;
        std::lock_guard guard(jobs_->lock);
        jobs_->topUp();
    }
    ~OrderedRenders() { jobs_->cancel(); }
    OrderedRenders(const OrderedRenders&) = delete;
    OrderedRenders& operator=(const OrderedRenders&) = delete;

    // The result for clip i; called for i = 0, 1, 2, … in turn.
    AudioData take(std::size_t i) {
        Item& item = items_[i];
        AudioData audio;
        switch (item.kind) {
            case Kind::dry:
            case Kind::hit: audio = std::move(item.audio); break;
            case Kind::render: audio = jobs_->take(item.job); break;
            case Kind::reuse: audio = items_[item.source].audio; break;
        }
        if (item.insert) {
            std::lock_guard guard(cache_.lock);
            cache_.insert(*item.key, audio);
        }
        if (item.reused) item.audio = audio;
        return audio;
    }

private:
    enum class Kind {
        dry,     // no active rack: the clip's audio
        hit,     // found in the cache
        render,  // rendered by a job
        reuse,   // the same key as an earlier clip: that clip's result
    };
    struct Item {
        Kind kind = Kind::dry;
        std::optional<Key> key;
        AudioData audio;
        std::size_t job = 0;
        std::size_t source = 0;
        bool insert = false;  // the result goes into the cache when taken
        bool reused = false;  // a later item takes this one's result
    };

    void plan(const std::vector<const Track*>& clips) {
        items_.resize(clips.size());
        std::lock_guard guard(cache_.lock);
        // The cache as the run would leave it, step by step: its own entries from `front` on, then
        // the ones this run inserts (those still in, oldest first).
        std::size_t front = 0;
        std::int64_t bytes = cache_.bytes;
        auto aliveFrom = [&] {
            return front < cache_.order.size() ? cache_.entries.at(cache_.order[front]).serial
                                               : std::numeric_limits<std::uint64_t>::max();
        };
        std::uint64_t oldestKept = aliveFrom();
        std::deque<std::size_t> inserted;               // items, oldest first
        std::unordered_map<Key, std::size_t, KeyHash> insertedKeys;  // key → item
        std::unordered_map<Key, std::size_t, KeyHash> rendered;      // key → item that renders it

        for (std::size_t i = 0; i < clips.size(); ++i) {
            const Track& clip = *clips[i];
            Item& item = items_[i];
            item.key = keyOf(clip);
            if (!item.key) {
                item.audio = clip.audio;
                continue;
            }
            const Key& key = *item.key;
            if (auto it = insertedKeys.find(key); it != insertedKeys.end()) {
                item.kind = Kind::reuse;
                item.source = it->second;
                items_[item.source].reused = true;
                continue;
            }
            if (auto it = cache_.entries.find(key); it != cache_.entries.end() && it->second.serial >= oldestKept) {
                item.kind = Kind::hit;
                item.audio = it->second.audio;
                continue;
            }
            if (auto it = rendered.find(key); it != rendered.end()) {
                // Rendered before in this run and evicted since (or too long to keep).
                item.kind = Kind::reuse;
                item.source = it->second;
                items_[item.source].reused = true;
            } else {
                item.kind = Kind::render;
                item.job = jobs_->inputs.size();
                jobs_->inputs.push_back({key.slots, clip.audio});
                rendered.emplace(key, i);
            }
            // A rack keeps the clip's length (or the render fails, and the run with it).
            const std::int64_t frames = clip.audio.frames();
            if (frames > kMaxCachedFrames) continue;
            item.insert = true;
            const std::int64_t cost = 8 * frames;
            while (bytes + cost > kCacheBudgetBytes && (front < cache_.order.size() || !inserted.empty())) {
                if (front < cache_.order.size()) {
                    bytes -= cache_.entries.at(cache_.order[front]).audio.bytes();
                    ++front;
                    oldestKept = aliveFrom();
                } else {
                    const std::size_t out = inserted.front();
                    inserted.pop_front();
                    bytes -= 8 * clips[out]->audio.frames();
                    insertedKeys.erase(*items_[out].key);
                }
            }
            bytes += cost;
            inserted.push_back(i);
            insertedKeys[key] = i;
        }
    }

    Cache::State& cache_;
    std::shared_ptr<Jobs> jobs_;
    std::vector<Item> items_;
};

}  // namespace

unsigned defaultRenderThreads() { return WorkerPool::size(); }

AudioData mix(const Session& project, std::optional<TimeRange> range, Cache& cache, unsigned threads) {
    if (threads <= 1) return project.mixed(range, [&cache](const Track& clip) { return render(clip, cache); });
    const Session::MixPlan plan = project.mixPlan(range);
    std::vector<const Track*> clips;
    clips.reserve(plan.parts.size());
    for (const auto& part : plan.parts) clips.push_back(&part.clip);
    OrderedRenders renders(clips, cache, threads);
    std::size_t next = 0;
    return project.mixed(plan, [&renders, &next](const Track&) { return renders.take(next++); });
}

std::vector<AudioData> renderAll(const std::vector<Track>& clips, Cache& cache, unsigned threads) {
    std::vector<AudioData> results;
    results.reserve(clips.size());
    if (threads <= 1) {
        for (const Track& clip : clips) results.push_back(render(clip, cache));
        return results;
    }
    std::vector<const Track*> list;
    list.reserve(clips.size());
    for (const Track& clip : clips) list.push_back(&clip);
    OrderedRenders renders(list, cache, threads);
    for (std::size_t i = 0; i < clips.size(); ++i) results.push_back(renders.take(i));
    return results;
}

CacheStats cacheStats() { return Cache::shared().stats(); }

bool isCached(const Track& clip) { return Cache::shared().contains(clip); }

}  // namespace tessoral::RackRenderer
