#include <gtest/gtest.h>

#include <thread>

#include "model/StudioError.h"
#include "processing/RackRenderer.h"
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
