// Saves of a large project killed at random moments: a child process saves over and over and is
// killed with SIGKILL; what it leaves is checked each time.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "BplistTestSupport.h"
#include "model/AtomicFile.h"
#include "model/ProjectIO.h"
#include "support/TestTools.h"

using namespace tessoral;

namespace {

constexpr const char* kChildVariable = "TESSORAL_KILLED_SAVE";
// 13.2 million stereo frames of 32-bit samples: a project file of about 106 MB.
constexpr std::size_t kFrames = 13'200'000;

Session largeProject(float value) {
    std::vector<float> left(kFrames, value), right(kFrames, -value);
    Session s;
    s.tracks.push_back(Track::make("Длинная запись", AudioData(std::move(left), std::move(right))));
    return s;
}

std::vector<std::string> temporaries(const std::filesystem::path& folder) {
    std::vector<std::string> out;
    for (const auto& name : test::folderEntries(folder))
        if (AtomicFile::isTemporaryName(name)) out.push_back(name);
    return out;
}

}  // namespace

// The child's part: saves the project to the target until it is killed, saying when it starts.
TEST(AtomicFileKilledChild, SavesUntilKilled) {
    const char* target = std::getenv(kChildVariable);
    if (!target) GTEST_SKIP() << "started by AtomicFileKilled only";
    const Session project = largeProject(0.25f);
    std::fputs("saving\n", stdout);
    std::fflush(stdout);
    for (;;) ProjectIO::save(project, target);
}

// In two halves of ten kills each, run side by side, each with kill times of its own.
class AtomicFileKilled : public ::testing::TestWithParam<int> {};

TEST_P(AtomicFileKilled, AKilledSaveLeavesAtMostOneTemporaryAndTheNextSaveNone) {
    test::TempFolder dir;
    const auto target = dir / "Большой проект.tessoral";
    const Session old = largeProject(0.5f);
    ProjectIO::save(old, target);
    const auto oldSize = std::filesystem::file_size(target);
    ASSERT_GT(oldSize, 100'000'000u);

    std::mt19937 random(20261207 + static_cast<unsigned>(GetParam()));
    // A save of this size takes a few hundred milliseconds here; the kills spread over that.
    std::uniform_int_distribution<int> delayMs(0, 700);
    for (int round = 0; round < 10; ++round) {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::setenv(kChildVariable, target.c_str(), 1);
            ::execl("/proc/self/exe", "model_tests", "--gtest_filter=AtomicFileKilledChild.*", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // Reads until the child says it starts saving (gtest prints its banner first).
        std::string said;
        char buffer[256];
        ssize_t n;
        while (said.find("saving\n") == std::string::npos && (n = ::read(out[0], buffer, sizeof buffer)) > 0)
            said.append(buffer, static_cast<std::size_t>(n));
        ASSERT_NE(said.find("saving\n"), std::string::npos) << said;
        int status = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        // Every other kill lands in the middle of a write: the child is held still and killed
        // only once a temporary of its own (none that a kill before left) is seen.
        const bool midWrite = round % 2 == 1;
        if (midWrite) {
            const auto before = temporaries(dir.path());
            for (;;) {
                ASSERT_EQ(::kill(child, SIGSTOP), 0);
                ASSERT_EQ(::waitpid(child, &status, WUNTRACED), child);
                ASSERT_TRUE(WIFSTOPPED(status)) << "round " << round;
                const auto now = temporaries(dir.path());
                if (std::ranges::any_of(now, [&](const std::string& t) { return std::ranges::find(before, t) == before.end(); })) break;
                ASSERT_EQ(::kill(child, SIGCONT), 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(out[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round;

        const auto left = temporaries(dir.path());
        EXPECT_LE(left.size(), 1u) << "round " << round;
        if (midWrite) {
            EXPECT_EQ(left.size(), 1u) << "round " << round;
        }
        // The project is whole: the old one or the child's.
        EXPECT_EQ(std::filesystem::file_size(target), oldSize) << "round " << round;
    }
    const Session read = ProjectIO::load(target);
    ASSERT_EQ(read.tracks.size(), 1u);
    const float first = read.tracks[0].audio.left[0];
    EXPECT_TRUE(first == 0.5f || first == 0.25f) << first;

    ProjectIO::save(old, target);
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Halves, AtomicFileKilled, ::testing::Values(0, 1));
