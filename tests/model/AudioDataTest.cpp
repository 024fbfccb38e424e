#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "model/AudioData.h"
#include "model/Track.h"
#include "support/TestAudio.h"

using namespace tessoral;

namespace {

// Slow reference of the overview: chunk = max(1, ceil(n / bins)).
std::vector<float> referencePeaks(const AudioData& a, int bins) {
    std::vector<float> out;
    const auto n = a.frames();
    if (n == 0) return out;
    const auto chunk = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(double(n) / bins)));
    for (std::int64_t b = 0; b < n; b += chunk) {
        float l = 0, r = 0;
        for (std::int64_t i = b; i < std::min(n, b + chunk); ++i) {
            l = std::max(l, std::fabs(a.left[i]));
            r = std::max(r, std::fabs(a.right[i]));
        }
        out.push_back(std::max(l, r));
    }
    return out;
}

}  // namespace

TEST(AudioData, PeaksBinCounts) {
    EXPECT_TRUE(AudioData().peaks(1800).empty());
    EXPECT_EQ(test::constant(10).peaks(1800).size(), 10u);
    EXPECT_EQ(test::constant(1800 * 5).peaks(1800).size(), 1800u);
    // chunk 2 → 901 entries, fewer than asked for
    EXPECT_EQ(test::constant(1801).peaks(1800).size(), 901u);
}

// Peaks take the louder channel's magnitude; envelopes keep each channel's signed extremes.
TEST(AudioData, PeaksAndEnvelopesMatchSlowReference) {
    for (std::int64_t n : {0, 1, 15, 16, 17, 1799, 4801, 100'003}) {
        const AudioData a = test::noise(n, 0.8f, static_cast<std::uint64_t>(n));
        EXPECT_EQ(a.peaks(1800), referencePeaks(a, 1800)) << n;
        const auto chunk = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(double(n) / 2400)));
        for (bool right : {false, true}) {
            const auto env = a.envelope(right, 2400);
            const auto& channel = right ? a.right : a.left;
            ASSERT_EQ(env.size(), static_cast<std::size_t>((n + chunk - 1) / chunk));
            for (std::size_t b = 0; b < env.size(); ++b) {
                const auto begin = channel.begin() + b * chunk;
                const auto end = channel.begin() + std::min<std::int64_t>(n, (b + 1) * chunk);
                EXPECT_EQ(env[b].low, *std::min_element(begin, end));
                EXPECT_EQ(env[b].high, *std::max_element(begin, end));
            }
        }
    }
}

TEST(AudioData, SliceSharesOnlyTheWholeRange) {
    const AudioData a = test::noise(1000, 0.5f);
    const AudioData whole = a.slice({0, 1000});
    EXPECT_TRUE(whole.left.sharesStorageWith(a.left));
    const AudioData part = a.slice({10, 20});
    EXPECT_EQ(part.frames(), 10);
    EXPECT_FALSE(part.left.sharesStorageWith(a.left));
    EXPECT_EQ(part.left[0], a.left[10]);
    EXPECT_EQ(part.right[9], a.right[19]);
    // Out-of-range requests are clamped, never read past the end.
    EXPECT_EQ(a.slice({990, 5000}).frames(), 10);
    EXPECT_EQ(a.slice({-5, 3}).frames(), 3);
}

TEST(AudioData, WritingACopyLeavesTheOriginal) {
    const AudioData a = test::constant(100, 0.25f);
    AudioData b = a;
    b.left.mutableVector()[0] = 1.0f;
    EXPECT_EQ(std::pair(a.left[0], b.left[0]), std::pair(0.25f, 1.0f));
    EXPECT_TRUE(b.right.sharesStorageWith(a.right));
}

TEST(AudioData, MonoSharesOneChannelAndUnequalChannelsArePadded) {
    const AudioData m = AudioData::mono({0.1f, 0.2f});
    EXPECT_EQ(m.left, m.right);
    const AudioData u({1.f, 2.f, 3.f}, {1.f});
    EXPECT_EQ(u.left.size(), u.right.size());
    EXPECT_EQ(u.right[2], 0.0f);
}

TEST(Track, ReplacingAudioRenewsCachesAndRevision) {
    Track t = Track::make("a", test::constant(10));
    const Uuid before = t.revision;
    EXPECT_EQ(t.peaks.size(), 10u);
    t.replaceAudio(test::constant(20, -0.5f));
    EXPECT_NE(t.revision, before);
    EXPECT_EQ(t.peaks.size(), 20u);
    EXPECT_EQ(t.leftEnvelope[0].low, -0.5f);
}
