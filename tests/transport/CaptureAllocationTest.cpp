// The recording's real-time callbacks (input, direct and separate monitoring, overdub output)
// allocate nothing. The capture thread allocates freely at the same time, so allocations are
// counted per thread: the C allocation functions are wrapped here (operator new ends in them)
// and count only on a thread that asked for it. A sanitizer brings its own allocator: the
// wrapping is left out then and the test is skipped.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "model/Defaults.h"
#include "transport/AudioDevices.h"
#include "transport/AudioRecorder.h"
#include "transport/NullAudioBackend.h"
#include "transport/NullInputScript.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSORAL_COUNT_ALLOCATIONS 0
#else
#define TESSORAL_COUNT_ALLOCATIONS 1
#endif

namespace {
thread_local bool countingHere = false;
thread_local long allocationsHere = 0;
}  // namespace

#if TESSORAL_COUNT_ALLOCATIONS
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) {
    if (countingHere) ++allocationsHere;
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    if (countingHere) ++allocationsHere;
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    if (countingHere) ++allocationsHere;
    return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    if (countingHere) ++allocationsHere;
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    if (countingHere) ++allocationsHere;
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    if (countingHere) ++allocationsHere;
    void* p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
}
#endif

namespace tessoral {
namespace {

using namespace std::chrono_literals;

long allocationsDuring(auto&& work) {
    allocationsHere = 0;
    countingHere = true;
    work();
    countingHere = false;
    return allocationsHere;
}

struct Rig {
    NullAudioBackend backend{NullAudioBackend::Mode::manual};
    MemoryDefaults defaults;
    AudioRecorder recorder{backend, defaults};
    Rig() {
        backend.setDevices({{1, "ALSA/Mic", "Mic", 1, 0, 44100.0}, {2, "ALSA/Out", "Out", 0, 2, 48000.0}});
        std::vector<float> x(200000);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>((i % 100) * 0.01);
        backend.setInput(std::make_shared<NullInputScript>(std::vector<std::vector<float>>{x}));
        backend.pump(512);
    }
    // Pumps slices with counting on; the capture thread catches up in between, uncounted.
    long countedPumps(int slices) {
        long total = 0;
        std::vector<float> left(4096), right(4096);
        for (int i = 0; i < slices; ++i) {
            total += allocationsDuring([&] { backend.pump(4096, left.data(), right.data()); });
            EXPECT_TRUE(recorder.waitUntilIdle(5s));
        }
        return total;
    }
};

TEST(CaptureAllocation, CounterSeesThisThreadOnly) {
    if (!TESSORAL_COUNT_ALLOCATIONS) GTEST_SKIP() << "sanitizer build";
    EXPECT_GE(allocationsDuring([] { delete new std::vector<int>(100); }), 1);
    EXPECT_GE(allocationsDuring([] { std::free(std::malloc(10)); }), 1);
}

TEST(CaptureAllocation, InputAndDirectMonitorCallbacksAllocateNothing) {
    if (!TESSORAL_COUNT_ALLOCATIONS) GTEST_SKIP() << "sanitizer build";
    Rig rig;
    RecordingSetup setup;
    setup.maximumFrames = 48000 * 10;
    setup.monitorLevel = 0.7f;
    rig.recorder.start(setup);
    ASSERT_TRUE(rig.recorder.monitoring());
    EXPECT_EQ(rig.countedPumps(20), 0);
    EXPECT_GT(rig.recorder.stop().audio.frames(), 70000);
}

TEST(CaptureAllocation, SeparateMonitorAndOverdubCallbacksAllocateNothing) {
    if (!TESSORAL_COUNT_ALLOCATIONS) GTEST_SKIP() << "sanitizer build";
    Rig rig;
    rig.defaults.set(AudioDevices::kOutputDeviceKey, std::string("ALSA/Out"));
    RecordingSetup setup;
    setup.maximumFrames = 48000 * 10;
    setup.monitorLevel = 0.7f;
    setup.playback = AudioData(std::vector<float>(30000, 0.1f), std::vector<float>(30000, 0.1f));
    rig.recorder.start(setup);
    ASSERT_TRUE(rig.recorder.monitoring());
    ASSERT_TRUE(rig.recorder.overdubbing());
    EXPECT_EQ(rig.backend.openStreams(), 3);
    EXPECT_EQ(rig.countedPumps(20), 0);  // the overdub starts, plays out and ends meanwhile
    rig.recorder.stop();
}

}  // namespace
}  // namespace tessoral
