// The memory of a closed project goes back to the system: ten cycles of open, export and close of
// a project of a few hundred megabytes, the work of each on a thread of its own as the program's
// pools run it, leave the resident set where the first cycle left it.

#include <unistd.h>

#include <fstream>
#include <thread>

#include "StoreTestSupport.h"
#include "model/MemoryRelease.h"
#include "model/ProjectIO.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

using StoreMemory = StoreTest;

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
}

}  // namespace

TEST_F(StoreMemory, OpenExportAndCloseGiveTheMemoryBack) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator keeps freed blocks in its quarantine on purpose.
    GTEST_SKIP() << "the resident set says nothing of the C library's allocator under AddressSanitizer";
#endif
    MemoryRelease::configure();  // as the program does at start-up

    // Twelve clips of 2.5 million frames (10 MB per channel): 240 MB.
    const auto file = fx.home.path() / "Большой.tessoral";
    {
        Session s;
        for (int i = 0; i < 12; ++i) {
            Track t = Track::make("К" + std::to_string(i), noise(2'500'000, 0.3f, 40 + i));
            t.start = 0.5 * i;
            s.appendOnNewLane(std::move(t));
        }
        ProjectIO::save(s, file);
    }
    const auto onAWorker = [this] { std::thread([this] { fx.tasks.runAll(); }).join(); };

    std::vector<std::int64_t> resident;
    for (int cycle = 0; cycle < 10; ++cycle) {
        store->open({file});
        onAWorker();
        ASSERT_EQ(store->session().tracks.size(), 12u);
        fx.prompts.saveAnswers.push_back(fx.home.path() / "Микс");
        store->exportMix();
        onAWorker();
        ASSERT_EQ(store->status().rfind("Экспорт готов", 0), 0u) << store->status();
        store->newProject();
        ASSERT_TRUE(store->session().tracks.empty());
        resident.push_back(residentBytes());
    }
    for (std::size_t cycle = 1; cycle < resident.size(); ++cycle)
        EXPECT_LE(static_cast<double>(resident[cycle]), 1.1 * static_cast<double>(resident[0]))
            << "cycle " << cycle << ": " << resident[cycle] / 1'000'000 << " MB after " << resident[0] / 1'000'000
            << " MB";
}
