// Copying a whole project (undo checkpoints, background tasks) must copy no samples and
// no drawing caches: the copy allocates only the small per-clip records.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "model/Session.h"
#include "support/TestAudio.h"

namespace {
thread_local bool counting = false;
thread_local std::size_t countedBytes = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (counting) countedBytes += size;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (counting) countedBytes += size;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace tessoral;

TEST(SessionCopy, TwoHundredFiftySixClipsAllocateUnderOneMegabyte) {
    Session s;
    for (int i = 0; i < 256; ++i) {
        Track t = Track::make("Клип с довольно длинным названием " + std::to_string(i), test::noise(48000, 0.5f, i));
        t.rack.push_back(EffectSlot(EffectPreset::echo));
        t.volumeEnvelope = {{0, 0}, {1, -6}};
        s.appendOnNewLane(std::move(t));
    }
    s.markers.push_back(SessionMarker{Uuid::random(), "m", 1, 2.0});
    ASSERT_EQ(s.tracks[0].peaks.size(), 1778u);  // chunk ceil(48000 / 1800) = 27

    countedBytes = 0;
    counting = true;
    Session copy = s;
    counting = false;
    EXPECT_LT(countedBytes, 1u << 20);
    EXPECT_TRUE(copy.tracks[0].audio.left.sharesStorageWith(s.tracks[0].audio.left));
    EXPECT_TRUE(copy.tracks[255].leftEnvelope.sharesStorageWith(s.tracks[255].leftEnvelope));
    EXPECT_TRUE(copy.tracks[7].peaks.sharesStorageWith(s.tracks[7].peaks));
    EXPECT_EQ(copy, s);
    // The audio alone is 256 × 48000 × 8 bytes; the copy is a tiny fraction of it.
    EXPECT_LT(countedBytes * 50, static_cast<std::size_t>(s.bytes()));
}
