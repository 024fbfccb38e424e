#include <gtest/gtest.h>

#include <unistd.h>

#include <stdexcept>
#include <string>

#include "BplistTestSupport.h"
#include "model/AtomicFile.h"
#include "model/StudioError.h"
#include "support/TestTools.h"

using namespace tessoral;

namespace {

void writeAll(int fd, const std::string& text) { ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size())); }

std::string contents(const std::filesystem::path& p) {
    const auto bytes = test::readFile(p);
    return {bytes.begin(), bytes.end()};
}

TEST(AtomicFile, ASeekingWriterCompletesItsHeaderLast) {
    test::TempFolder dir;
    const auto target = dir / "take.wav";
    test::writeFile(target, {'o', 'l', 'd'});
    AtomicFile::writeSeekable(target, [](int fd) {
        writeAll(fd, "....body");
        ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
        writeAll(fd, "HEAD");
    });
    EXPECT_EQ(contents(target), "HEADbody");
    EXPECT_EQ(test::folderEntries(dir.path()), std::vector<std::string>{"take.wav"});
}

TEST(AtomicFile, ASeekingWritersFailuresReadAsItsOwnAndLeaveTheTarget) {
    test::TempFolder dir;
    const auto target = dir / "take.wav";
    test::writeFile(target, {'o', 'l', 'd'});
    const AtomicFile::Describe describe = [](const std::string& detail) { return "cannot write audio: " + detail; };
    auto message = [&](const std::filesystem::path& path, const std::function<void(int)>& produce) {
        try {
            AtomicFile::writeSeekable(path, produce, describe);
        } catch (const PlatformError& e) {
            return e.message();
        }
        return std::string("no error");
    };
    auto body = [](int fd) { writeAll(fd, "new"); };
    // The folder is missing; the target is a folder, so the finished file cannot replace it.
    EXPECT_EQ(message(dir / "missing" / "take.wav", body), "cannot write audio: No such file or directory");
    std::filesystem::create_directories(dir / "folder.wav" / "inside");
    EXPECT_EQ(message(dir / "folder.wav", body).rfind("cannot write audio: ", 0), 0u);
    // The writer's own error passes through unchanged.
    EXPECT_THROW(AtomicFile::writeSeekable(target, [](int fd) {
        writeAll(fd, "half");
        throw std::runtime_error("encoder failed");
    }),
                 std::runtime_error);
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(test::folderEntries(dir.path()), (std::vector<std::string>{"folder.wav", "take.wav"}));
}

TEST(AtomicFile, ATargetNameNearTheLimitStillHasRoomForTheTemporary) {
    // 255 bytes is the longest name; the temporary name must not grow past it.
    test::TempFolder dir;
    std::string name;
    while (name.size() + 2 <= 250) name += "ё";
    name += ".wav";
    ASSERT_LE(name.size(), 255u);
    AtomicFile::write(dir / name, std::vector<std::uint8_t>{1, 2});
    AtomicFile::writeSeekable(dir / name, [](int fd) { writeAll(fd, "xyz"); });
    EXPECT_EQ(contents(dir / name), "xyz");
    EXPECT_EQ(test::folderEntries(dir.path()), std::vector<std::string>{name});
}

}  // namespace
