// The output callback allocates nothing: every global allocation function is replaced here
// and counts while the flag is set.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "TransportTestSupport.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* allocate(std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

void* allocateAligned(std::size_t size, std::align_val_t align) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    const auto a = static_cast<std::size_t>(align);
    const std::size_t rounded = (size + a - 1) / a * a;
    return std::aligned_alloc(a, rounded == 0 ? a : rounded);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t align) {
    if (void* p = allocateAligned(size, align)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) {
    if (void* p = allocateAligned(size, align)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return allocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return allocateAligned(size, align);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

namespace tessoral {
namespace {

long countDuring(auto&& work) {
    allocations.store(0);
    counting.store(true);
    work();
    counting.store(false);
    return allocations.load();
}

TEST(CallbackAllocation, CounterSeesAnAllocation) {
    static std::vector<int>* volatile sink = nullptr;
    EXPECT_GE(countDuring([] {
                  sink = new std::vector<int>(100);
                  delete sink;
              }),
              2);
}

TEST(CallbackAllocation, OutputCallbackAllocatesNothing) {
    test::ManualRig rig;
    const auto x = test::sine(30000, 997.0, 0.5);
    // A loop with clicks: every path of the render step (wrap, clicks across the wrap, tails).
    rig.transport.play(AudioData(x, x), 0.49, true, BeatGrid{200.0, 3});
    std::vector<float> left(96000, 0.0f), right(96000, 0.0f);
    EXPECT_EQ(countDuring([&] {
                  rig.backend.pump(96000, left.data(), right.data());
                  rig.backend.pump(777);
              }),
              0);
    float heard = 0.0f;
    for (float v : left) heard = std::max(heard, std::fabs(v));
    EXPECT_GT(heard, 0.5f) << "the callback did play";

    // A one-shot playback running past its end.
    rig.transport.play(AudioData(x, x), 0.0, false, BeatGrid{120.0, 4});
    EXPECT_EQ(countDuring([&] { rig.backend.pump(40000); }), 0);
}

TEST(CallbackAllocation, MeterTickAllocatesNothing) {
    test::ManualRig rig;
    const auto x = test::sine(10 * 48000, 997.0, 0.5);
    rig.transport.play(AudioData(x, x), 0.0, true, std::nullopt);
    rig.run(1600);
    EXPECT_EQ(countDuring([&] {
                  for (int i = 0; i < 60; ++i) rig.run(1600);
                  rig.run(200000);  // a jump and a wrap
              }),
              0);
    EXPECT_TRUE(rig.transport.momentaryLUFS());
}

}  // namespace
}  // namespace tessoral
