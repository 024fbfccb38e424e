#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <type_traits>

#include "model/EffectParameters.h"
#include "model/StudioError.h"
#include "processing/FreshPages.h"
#include "processing/RackRenderer.h"
#include "processing/WorkerPool.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

Track clipWith(std::int64_t frames, std::vector<EffectSlot> rack, std::uint64_t seed = 1) {
    Track t = Track::make("c", test::noise(frames, 0.5f, seed));
    t.rack = std::move(rack);
    return t;
}

EffectSlot slot(EffectPreset p, double wet = 1.0, bool enabled = true) {
    EffectSlot s(p);
    s.wet = wet;
    s.enabled = enabled;
    return s;
}

EffectSlot slot(EffectPreset p, double wet, EffectParams params) {
    EffectSlot s = slot(p, wet);
    s.params = std::move(params);
    return s;
}

// The same samples to the bit (a NaN's payload and a zero's sign included).
bool sameBits(const AudioData& a, const AudioData& b) {
    const auto bytes = sizeof(float) * static_cast<std::size_t>(a.frames());
    return a.frames() == b.frames() && std::memcmp(a.left.data(), b.left.data(), bytes) == 0 &&
           std::memcmp(a.right.data(), b.right.data(), bytes) == 0;
}

std::vector<EffectSlot> worstRack() {
    std::vector<EffectSlot> rack;
    for (const EffectPreset p : {EffectPreset::lowCut, EffectPreset::deesser, EffectPreset::compressor,
                                 EffectPreset::warm, EffectPreset::bright, EffectPreset::limiter,
                                 EffectPreset::telephone, EffectPreset::invert})
        rack.push_back(slot(p));
    return rack;
}

// Removes the slot probe when the test ends, however it ends.
struct ProbeGuard {
    explicit ProbeGuard(std::function<void(const EffectSlot&)> probe) { RackRenderer::setSlotProbe(std::move(probe)); }
    ~ProbeGuard() { RackRenderer::setSlotProbe({}); }
};

}  // namespace

TEST(RackRenderer, InactiveRacksReturnTheClipAudio) {
    const auto before = RackRenderer::cacheStats();
    Track bypassed = clipWith(1000, {slot(EffectPreset::invert)});
    bypassed.rackBypassed = true;
    EXPECT_TRUE(RackRenderer::render(bypassed).left.sharesStorageWith(bypassed.audio.left));
    Track empty = clipWith(1000, {});
    EXPECT_TRUE(RackRenderer::render(empty).left.sharesStorageWith(empty.audio.left));
    Track idle = clipWith(1000, {slot(EffectPreset::invert, 1.0, false), slot(EffectPreset::invert, 0.0)});
    EXPECT_TRUE(RackRenderer::render(idle).left.sharesStorageWith(idle.audio.left));
    EXPECT_EQ(RackRenderer::cacheStats().entries, before.entries);
}

TEST(RackRenderer, WetMixesWithWhatEnteredTheSlot) {
    const AudioData dry = test::noise(5000, 0.5f, 3);
    const AudioData full = RackRenderer::apply({slot(EffectPreset::invert)}, dry);
    const AudioData quarter = RackRenderer::apply({slot(EffectPreset::invert, 0.25)}, dry);
    for (std::int64_t i = 0; i < dry.frames(); i += 97) {
        EXPECT_EQ(full.left[i], -dry.left[i]);
        EXPECT_FLOAT_EQ(quarter.right[i], 0.75f * dry.right[i] + 0.25f * -dry.right[i]);
    }
    // Two inversions in a row give the input back.
    EXPECT_EQ(RackRenderer::apply({slot(EffectPreset::invert), slot(EffectPreset::invert)}, dry), dry);
}

TEST(RackRenderer, SecondRenderHitsTheCacheUntilTheRackChanges) {
    Track t = clipWith(4800, {slot(EffectPreset::invert)}, 11);
    const AudioData first = RackRenderer::render(t);
    EXPECT_TRUE(RackRenderer::isCached(t));
    const AudioData second = RackRenderer::render(t);
    EXPECT_TRUE(second.left.sharesStorageWith(first.left));
    // Editing a disabled slot keeps the key; editing an active one does not.
    t.rack.push_back(slot(EffectPreset::chorus, 1.0, false));
    EXPECT_TRUE(RackRenderer::isCached(t));
    t.rack[0].wet = 0.5;
    EXPECT_FALSE(RackRenderer::isCached(t));
    t.rack[0].wet = 1.0;
    t.replaceAudio(test::noise(4800, 0.5f, 12));
    EXPECT_FALSE(RackRenderer::isCached(t));
}

TEST(RackRenderer, BudgetEvictsOldestAndHugeResultsAreNotCached) {
    Track small = clipWith(1000, {slot(EffectPreset::invert)}, 21);
    RackRenderer::render(small);
    ASSERT_TRUE(RackRenderer::isCached(small));
    // A result that alone costs the whole budget evicts everything older.
    Track whole = clipWith(RackRenderer::kMaxCachedFrames, {slot(EffectPreset::invert)}, 22);
    RackRenderer::render(whole);
    EXPECT_TRUE(RackRenderer::isCached(whole));
    EXPECT_FALSE(RackRenderer::isCached(small));
    EXPECT_EQ(RackRenderer::cacheStats().bytes, RackRenderer::kCacheBudgetBytes);
    Track over = clipWith(RackRenderer::kMaxCachedFrames + 1, {slot(EffectPreset::invert)}, 23);
    EXPECT_EQ(RackRenderer::render(over).frames(), RackRenderer::kMaxCachedFrames + 1);
    EXPECT_FALSE(RackRenderer::isCached(over));
    EXPECT_TRUE(RackRenderer::isCached(whole));
}

TEST(RackRenderer, CancellationBeforeTheFirstActiveSlot) {
    int asked = 0;
    EXPECT_THROW(RackRenderer::apply({slot(EffectPreset::invert, 1.0, false), slot(EffectPreset::invert)},
                                     test::constant(100), [&] { return ++asked > 0; }),
                 CancellationError);
    EXPECT_EQ(asked, 1);  // inactive slots are skipped without asking
    int calls = 0;
    RackRenderer::apply({slot(EffectPreset::invert), slot(EffectPreset::invert)}, test::constant(100), [&] {
        ++calls;
        return false;
    });
    EXPECT_EQ(calls, 2);
}

TEST(RackRenderer, ConcurrentRendersAgree) {
    const Track t = clipWith(48000, {slot(EffectPreset::invert), slot(EffectPreset::chorus, 0.5)}, 31);
    std::vector<AudioData> results(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { results[i] = RackRenderer::render(t); });
    for (auto& th : threads) th.join();
    for (const auto& r : results) EXPECT_EQ(r, results[0]);
}

TEST(RackRenderer, MixAppliesRacks) {
    Session s;
    s.appendOnNewLane(clipWith(1000, {slot(EffectPreset::invert)}, 41));
    const AudioData m = RackRenderer::mix(s, std::nullopt);
    EXPECT_EQ(m.left[10], -s.tracks[0].audio.left[10]);
}

// Racks on twelve clips, ten keys of 14.4 MB against the 128 MiB budget (nine fit): the mix with
// the racks rendering in parallel equals the mix rendering them one after another, sample for
// sample, and leaves the same keys in the same order in its cache. Two clips repeat an earlier
// clip's key: the first after that entry was evicted (rendered and inserted again), the second
// while it is still cached (a hit). In the second whole mix most clips are cached at the start
// but evicted by the insertions before their turn, so they miss and are inserted again.
TEST(RackRendererMix, ParallelMixEqualsTheSequentialOneAndCachesInTheSameOrder) {
    constexpr std::int64_t kFrames = 1'800'000;
    Session s;
    const std::vector<std::vector<EffectSlot>> racks{
        {slot(EffectPreset::invert)},
        {slot(EffectPreset::warm, 0.6)},
        {slot(EffectPreset::lowCut), slot(EffectPreset::invert, 0.25)},
        {slot(EffectPreset::invert, 1.0, false), slot(EffectPreset::bright)},
    };
    for (int i = 0; i < 10; ++i) {
        Track clip = clipWith(kFrames, racks[static_cast<std::size_t>(i) % racks.size()], 100 + i);
        clip.start = 2.0 * i;
        clip.gainDB = -3.0 + 0.5 * i;
        clip.pan = (i % 3 - 1) * 0.4;
        if (i % 4 == 1) clip.fadeIn = 0.5;
        s.appendOnNewLane(std::move(clip));
    }
    for (const std::size_t original : {0, 8}) {
        Track twin = s.tracks[original];
        twin.id = Uuid::random();
        twin.start = 21.0 + static_cast<double>(original);
        s.appendOnNewLane(std::move(twin));
    }
    // Clips that never reach the cache: dry, bypassed, and a muted one with a rack.
    s.appendOnNewLane(clipWith(kFrames / 4, {}, 201));
    Track bypassed = clipWith(kFrames / 4, {slot(EffectPreset::invert)}, 202);
    bypassed.rackBypassed = true;
    s.appendOnNewLane(std::move(bypassed));
    Track muted = clipWith(kFrames / 4, {slot(EffectPreset::invert)}, 203);
    muted.muted = true;
    s.appendOnNewLane(std::move(muted));

    RackRenderer::Cache sequential, parallel;
    const std::optional<TimeRange> ranges[] = {std::nullopt, std::nullopt, TimeRange{15.0, 45.0}, std::nullopt};
    for (std::size_t pass = 0; pass < std::size(ranges); ++pass) {
        SCOPED_TRACE("pass " + std::to_string(pass));
        const AudioData one = RackRenderer::mix(s, ranges[pass], sequential, 1);
        const AudioData many = RackRenderer::mix(s, ranges[pass], parallel, 8);
        ASSERT_EQ(one.frames(), many.frames());
        EXPECT_TRUE(one == many);
        EXPECT_EQ(sequential.keys(), parallel.keys());
        EXPECT_EQ(sequential.stats().bytes, parallel.stats().bytes);
        // The budget is what keeps the cache from holding all ten keys.
        EXPECT_EQ(parallel.stats().entries, 9u);
        EXPECT_LE(parallel.stats().bytes, RackRenderer::kCacheBudgetBytes);
    }

    // The same rules for a list of clips rendered in turn.
    const std::vector<Track> clips(s.tracks.rbegin(), s.tracks.rend());
    const auto one = RackRenderer::renderAll(clips, sequential, 1);
    const auto many = RackRenderer::renderAll(clips, parallel, 8);
    ASSERT_EQ(one.size(), many.size());
    for (std::size_t i = 0; i < one.size(); ++i) EXPECT_TRUE(one[i] == many[i]) << i;
    EXPECT_EQ(sequential.keys(), parallel.keys());
    // A cached result is handed out, not rendered again: the first clip was rendered last.
    const auto again = RackRenderer::renderAll({clips.back(), clips.back()}, parallel, 8);
    EXPECT_TRUE(again[0].left.sharesStorageWith(many.back().left));
    EXPECT_TRUE(again[1].left.sharesStorageWith(many.back().left));
}

// Mixes started at the same time from several threads share the worker pool; each equals its
// mix alone.
TEST(RackRendererMix, ConcurrentParallelMixesAgree) {
    Session s;
    for (int i = 0; i < 12; ++i) {
        Track clip = clipWith(48000 + 1000 * i, {slot(EffectPreset::warm), slot(EffectPreset::invert, 0.5)}, 300 + i);
        clip.start = 0.1 * i;
        s.appendOnNewLane(std::move(clip));
    }
    RackRenderer::Cache alone;
    const AudioData expected = RackRenderer::mix(s, std::nullopt, alone, 1);
    std::vector<AudioData> results(4);
    std::vector<std::thread> threads;
    RackRenderer::Cache shared;
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = RackRenderer::mix(s, std::nullopt, shared, 8); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_TRUE(r == expected);
    EXPECT_EQ(shared.stats().entries, 12u);
}

// One clip's rack rendered on several threads equals the rack applied slot after slot, to the bit,
// for racks that start with a slot streaming through the pipeline, with the de-esser's channels
// rendered in ranges over time (first in a rack too, and on clips shorter than a frame), equalisers
// (with no section, one stage, several), a reverb, and a slot that renders whole (one that hands
// back its input unchanged, on a mono clip whose channels share their samples), wet amounts below
// 1 at each kind, a non-finite input sample, and a length
// that ends inside a slice past several chunks. The clip's own audio is left as it was.
// A slot that fails, wherever it is in the rack, fails the render with its own error, leaving the
// cache as it was; with the fault gone the same clip renders and is cached.
TEST(RackRendererParallel, OneClipEqualsTheSequentialRenderToTheBitAndFailsCleanly) {
    constexpr std::int64_t kFrames = 3 * 65'536 + 2 * 4096 + 1234;
    // Pushed well over full scale, so that the limiter after it works hard.
    const EffectSlot loud = slot(EffectPreset::compressor, 1.0, {{"threshold", -30.0}, {"makeup", 20.0}});
    const std::vector<std::vector<EffectSlot>> racks{
        worstRack(),
        {slot(EffectPreset::deesser, 0.7), slot(EffectPreset::lowCut, 0.5), slot(EffectPreset::chorus),
         slot(EffectPreset::invert, 0.3), slot(EffectPreset::limiter)},
        {slot(EffectPreset::flanger, 0.6), slot(EffectPreset::deesser), slot(EffectPreset::reverb, 0.7), slot(EffectPreset::warm, 0.4)},
        {slot(EffectPreset::deesser, 0.5), slot(EffectPreset::parametricEQ, 0.7), slot(EffectPreset::invert, 0.25),
         slot(EffectPreset::compressor)},
        // Graphs that render in steps: first in the rack, side by side, not fully wet, and over
        // more chunks than their scratch buffers (a long clip).
        {slot(EffectPreset::compressor, 0.6, {{"makeup", 18.0}}),
         slot(EffectPreset::limiter, 1.0, {{"release", 300.0}}), loud, slot(EffectPreset::limiter, 0.8), slot(EffectPreset::invert, 0.5)},
        // Mono, the limiter first and after the de-esser.
        {slot(EffectPreset::limiter, 0.7), slot(EffectPreset::deesser), loud, slot(EffectPreset::limiter)},
        // A vocal rack: an equaliser of ten sections (several stages), a reverb whose diffusion
        // and network render apart; both over more chunks than the equaliser hands on at once.
        {slot(EffectPreset::graphicEQ, 1.0, {{"g0", -9.0}, {"g1", -6.0}, {"g2", -3.0}, {"g3", -1.5}, {"g4", -1.0},
                                             {"g5", 0.5}, {"g6", 2.0}, {"g7", 3.5}, {"g8", 2.5}, {"g9", 1.0}}),
         slot(EffectPreset::compressor), slot(EffectPreset::deesser), slot(EffectPreset::limiter),
         slot(EffectPreset::hall)},
        // Equalisers first (not fully wet) and last (one stage), around a reverb not fully wet.
        {slot(EffectPreset::parametricEQ, 0.6, {{"hp.on", 1.0}, {"ls.g", 4.0}, {"p2.g", -5.0}, {"hs.g", 3.0}}),
         slot(EffectPreset::cathedral, 0.5), slot(EffectPreset::graphicEQ, 1.0, {{"g3", 4.0}, {"g8", -2.0}})},
    };
    // Which threads render parts of slots. Each part pauses a little, so that however loaded the
    // machine, the helpers of a parallel render are up before one thread could have rendered it all.
    std::mutex lock;
    std::set<std::thread::id> threads, deessing;
    const ProbeGuard probe([&](const EffectSlot& s) {
        {
            std::lock_guard guard(lock);
            threads.insert(std::this_thread::get_id());
            if (s.preset == EffectPreset::deesser) deessing.insert(std::this_thread::get_id());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    });
    RackRenderer::Cache cache;
    for (std::size_t i = 0; i < racks.size(); ++i) {
        SCOPED_TRACE("rack " + std::to_string(i));
        Track clip = clipWith(i == 4 || i == 6 ? 13 * 65'536 + 777 : kFrames, racks[i], 500 + i);
        if (i == 0) {
            std::vector<float> left = clip.audio.left.toVector();
            left[70'000] = std::numeric_limits<float>::quiet_NaN();
            left[70'001] = std::numeric_limits<float>::infinity();
            clip.replaceAudio(AudioData(std::move(left), clip.audio.right.toVector()));
        }
        if (i == 3 || i == 5) clip.replaceAudio(AudioData::mono(clip.audio.left.toVector()));
        const AudioData before(clip.audio.left.toVector(), clip.audio.right.toVector());
        const AudioData sequential = RackRenderer::apply(clip.rack, clip.audio);
        deessing.clear();
        const AudioData parallel = RackRenderer::render(clip, cache);
        EXPECT_TRUE(sameBits(sequential, parallel));
        const bool deesses = std::any_of(clip.rack.begin(), clip.rack.end(),
                                         [](const EffectSlot& s) { return s.preset == EffectPreset::deesser; });
        if (deesses && RackRenderer::defaultRenderThreads() > 2) EXPECT_GT(deessing.size(), 2u);  // more than a thread a channel
        EXPECT_TRUE(sameBits(clip.audio, before));
        EXPECT_TRUE(cache.contains(clip));
    }
    if (RackRenderer::defaultRenderThreads() > 1) EXPECT_GT(threads.size(), 1u);
    // Clips shorter than a de-esser's frame, and than one of its ranges; a slot rendering whole that
    // hands back its input (the automatic denoiser on a short clip), on a mono clip too.
    for (const std::int64_t frames : {std::int64_t{1}, std::int64_t{700}, std::int64_t{40'000}}) {
        Track clip = clipWith(frames, {slot(EffectPreset::deesser, 0.6), slot(EffectPreset::invert),
                                       slot(EffectPreset::graphicEQ, 0.8, {{"g2", 5.0}}), slot(EffectPreset::autoDenoise, 0.5)}, 540);
        if (frames == 700) clip.replaceAudio(AudioData::mono(clip.audio.left.toVector()));
        EXPECT_TRUE(sameBits(RackRenderer::render(clip, cache), RackRenderer::apply(clip.rack, clip.audio))) << frames;
    }
    // A parallel mix of fewer clips than threads renders each rack on several threads too.
    {
        Session s;
        s.appendOnNewLane(clipWith(kFrames, worstRack(), 550));
        threads.clear();
        RackRenderer::Cache parallel, sequential;
        const AudioData many = RackRenderer::mix(s, std::nullopt, parallel, 8);
        EXPECT_GT(threads.size(), 1u);
        EXPECT_TRUE(sameBits(many, RackRenderer::mix(s, std::nullopt, sequential, 1)));
    }

    Track clip = clipWith(kFrames, worstRack(), 600);
    clip.rack.insert(clip.rack.begin() + 3, slot(EffectPreset::chorus, 0.5));
    const auto keys = cache.keys();
    const auto bytes = cache.stats().bytes;
    for (const EffectPreset failing : {EffectPreset::lowCut, EffectPreset::deesser, EffectPreset::chorus,
                                       EffectPreset::limiter, EffectPreset::invert}) {
        SCOPED_TRACE(std::string(rawValue(failing)));
        const ProbeGuard fault([failing](const EffectSlot& s) {
            if (s.preset == failing) throw StudioError("Сбой эффекта.");
        });
        try {
            RackRenderer::render(clip, cache);
            ADD_FAILURE() << "the render did not fail";
        } catch (const StudioError& e) {
            EXPECT_STREQ(e.what(), "Сбой эффекта.");
        }
        EXPECT_EQ(cache.keys(), keys);
        EXPECT_EQ(cache.stats().bytes, bytes);
    }
    // The de-esser renders each channel in several ranges; failing in its last one, once its levels
    // are measured and part of its output written, fails the render as cleanly.
    std::atomic<int> deesserParts{0};
    {
        const ProbeGuard count([&](const EffectSlot& s) { deesserParts += s.preset == EffectPreset::deesser; });
        RackRenderer::Cache scratch;
        RackRenderer::render(clip, scratch);
    }
    if (RackRenderer::defaultRenderThreads() > 1) EXPECT_GT(deesserParts.load(), 6);  // more than a part a channel and step
    {
        std::atomic<int> seen{0};
        const ProbeGuard fault([&, last = deesserParts.load()](const EffectSlot& s) {
            if (s.preset == EffectPreset::deesser && ++seen == last) throw StudioError("Сбой эффекта.");
        });
        EXPECT_THROW(RackRenderer::render(clip, cache), StudioError);
        EXPECT_EQ(seen.load(), deesserParts.load());
        EXPECT_EQ(cache.keys(), keys);
        EXPECT_EQ(cache.stats().bytes, bytes);
    }
    EXPECT_TRUE(sameBits(RackRenderer::render(clip, cache), RackRenderer::apply(clip.rack, clip.audio)));
    EXPECT_TRUE(cache.contains(clip));
}

// A slot failing for one clip of a parallel mix fails the mix with its error, and the cache holds
// what the clips before it left there, as when the racks render one after another.
TEST(RackRendererMix, AFailingSlotEndsTheParallelMixCleanly) {
    Session s;
    for (int i = 0; i < 12; ++i) {
        Track clip = clipWith(48'000, {slot(EffectPreset::warm), slot(EffectPreset::invert, 0.5)}, 700 + i);
        clip.start = 0.5 * i;
        s.appendOnNewLane(std::move(clip));
    }
    const Uuid failing = s.tracks[5].rack[1].id;
    const ProbeGuard fault([failing](const EffectSlot& slot) {
        if (slot.id == failing) throw StudioError("Сбой эффекта.");
    });
    RackRenderer::Cache sequential, parallel;
    EXPECT_THROW(RackRenderer::mix(s, std::nullopt, sequential, 1), StudioError);
    EXPECT_THROW(RackRenderer::mix(s, std::nullopt, parallel, 8), StudioError);
    EXPECT_EQ(parallel.keys(), sequential.keys());
    ASSERT_EQ(parallel.keys().size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_TRUE(parallel.contains(s.tracks[i])) << i;
}

// A clip over the per-clip limit between two that fit: the parallel mix leaves the same keys and
// bytes as the sequential one, without the long clip.
TEST(RackRendererMix, AClipOverThePerClipLimitStaysOutOfTheCacheInAParallelMix) {
    Session s;
    s.appendOnNewLane(clipWith(96'000, {slot(EffectPreset::invert)}, 801));
    s.appendOnNewLane(clipWith(RackRenderer::kMaxCachedFrames + 1, {slot(EffectPreset::invert)}, 802));
    Track last = clipWith(96'000, {slot(EffectPreset::warm)}, 803);
    last.start = 1.0;
    s.appendOnNewLane(std::move(last));
    RackRenderer::Cache sequential, parallel;
    const AudioData one = RackRenderer::mix(s, TimeRange{0.0, 4.0}, sequential, 1);
    const AudioData many = RackRenderer::mix(s, TimeRange{0.0, 4.0}, parallel, 8);
    EXPECT_TRUE(sameBits(one, many));
    EXPECT_EQ(parallel.keys(), sequential.keys());
    EXPECT_EQ(parallel.stats().bytes, sequential.stats().bytes);
    EXPECT_EQ(parallel.stats().entries, 2u);
    EXPECT_FALSE(parallel.contains(s.tracks[1]));
}

// Twelve racks in a mix render at once when the pool has several threads: the first slot to start
// waits until a slot starts on another thread (or gives up after a while).
TEST(RackRendererMix, TwelveRacksRenderOnSeveralThreadsAtOnce) {
    Session s;
    for (int i = 0; i < 12; ++i) s.appendOnNewLane(clipWith(24'000, {slot(EffectPreset::bright)}, 900 + i));
    std::mutex lock;
    std::condition_variable started;
    std::optional<std::thread::id> first;
    bool overlapped = false;
    const ProbeGuard probe([&](const EffectSlot&) {
        std::unique_lock guard(lock);
        const auto self = std::this_thread::get_id();
        if (!first) {
            first = self;
            overlapped = started.wait_for(guard, std::chrono::seconds(5), [&] { return overlapped; });
        } else if (*first != self) {
            overlapped = true;
            started.notify_all();
        }
    });
    RackRenderer::Cache cache;
    RackRenderer::mix(s, std::nullopt, cache, RackRenderer::defaultRenderThreads());
    EXPECT_EQ(overlapped, RackRenderer::defaultRenderThreads() > 1);
}

// Runs `make` on a thread of its own and waits a minute at most: nothing when it has not returned
// by then (the thread is left behind, so a lost wake-up fails the test instead of hanging it).
template <class Make>
std::optional<std::invoke_result_t<Make>> withinAMinute(Make make) {
    auto result = std::make_shared<std::promise<std::invoke_result_t<Make>>>();
    auto future = result->get_future();
    std::thread([result, make] { result->set_value(make()); }).detach();
    if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready) return std::nullopt;
    return future.get();
}

// A long channel's pages are mapped by the pool's free threads and the caller: with every pool
// thread busy, the caller maps them all; with the pool free, its threads map parts too, often
// the last one, which the caller waits for. Either way the channel comes whole.
TEST(RackRendererParallel, LongChannelsAreMadeWithAndWithoutThePoolsHelp) {
    std::vector<float> source(5'000'011);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<float>(i % 9973) - 4000.5f;
    const auto make = [source] { return std::pair{FreshPages::zeroed(source.size()), FreshPages::copied(source)}; };
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    for (unsigned i = 0; i < WorkerPool::size(); ++i) WorkerPool::post([released] { released.wait(); });
    for (int round = 0; round < 20; ++round) {  // the first with the pool busy
        const auto made = withinAMinute(make);
        if (round == 0) release.set_value();
        ASSERT_TRUE(made) << "round " << round;
        EXPECT_EQ(made->first, std::vector<float>(source.size(), 0.0f));
        EXPECT_EQ(made->second, source);
    }
}
