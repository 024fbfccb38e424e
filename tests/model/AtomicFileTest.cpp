#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <string>

#include "BplistTestSupport.h"
#include "model/AtomicFile.h"
#include "model/ProjectIO.h"
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
    // A killed writer's temporary of this name (which repeats only the name's first 200 bytes).
    test::writeFile(dir / ("." + name.substr(0, 200) + ".0A1B2C3D.tmp"), {9});
    AtomicFile::write(dir / name, std::vector<std::uint8_t>{1, 2});
    AtomicFile::writeSeekable(dir / name, [](int fd) { writeAll(fd, "xyz"); });
    EXPECT_EQ(contents(dir / name), "xyz");
    EXPECT_EQ(test::folderEntries(dir.path()), std::vector<std::string>{name});
}

mode_t modeOf(const std::filesystem::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

// Everything in the folder that is one of our temporaries.
std::vector<std::string> temporaries(const std::filesystem::path& folder) {
    std::vector<std::string> out;
    for (const auto& name : test::folderEntries(folder))
        if (AtomicFile::isTemporaryName(name)) out.push_back(name);
    return out;
}

TEST(AtomicFile, WritingThroughALinkUpdatesTheFileItPointsToAndKeepsTheLink) {
    test::TempFolder dir;
    std::filesystem::create_directory(dir / "real");
    const auto real = dir / "real" / "Запись.tessoral";
    Session before;
    before.tempo = 90;
    ProjectIO::save(before, real);
    // A relative link to a link: both stay links, the file at the end of the chain changes.
    std::filesystem::create_symlink("real/Запись.tessoral", dir / "first.tessoral");
    std::filesystem::create_symlink(dir / "first.tessoral", dir / "opened.tessoral");
    // A killed save's temporary beside the file the links lead to goes with the next save.
    test::writeFile(dir / "real" / ".Запись.tessoral.0A1B2C3D.tmp", std::vector<std::uint8_t>(1000, 7));
    Session after;
    after.tempo = 133;
    ProjectIO::save(after, dir / "opened.tessoral");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "opened.tessoral"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "first.tessoral"));
    EXPECT_EQ(std::filesystem::read_symlink(dir / "first.tessoral"), "real/Запись.tessoral");
    bool ok = false;
    const std::string tempo = test::python("import plistlib, sys\nprint(plistlib.load(open(sys.argv[1], 'rb'))['tempo'])\n",
                                           {real.string()}, &ok);
    EXPECT_TRUE(ok) << tempo;
    EXPECT_EQ(tempo, "133.0\n");
    EXPECT_EQ(test::folderEntries(dir / "real"), std::vector<std::string>{"Запись.tessoral"});
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});

    // A link that points nowhere yet: the file it names is made.
    std::filesystem::create_symlink("real/new.bin", dir / "dangling.bin");
    AtomicFile::write(dir / "dangling.bin", std::vector<std::uint8_t>{4, 2});
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.bin"));
    EXPECT_EQ(test::readFile(dir / "real" / "new.bin"), (std::vector<std::uint8_t>{4, 2}));
    // A loop of links is refused and nothing is made.
    std::filesystem::create_symlink("loop-b", dir / "loop-a");
    std::filesystem::create_symlink("loop-a", dir / "loop-b");
    EXPECT_THROW(AtomicFile::write(dir / "loop-a", std::vector<std::uint8_t>{1}), PlatformError);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "loop-a"));
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

TEST(AtomicFile, AReplacedFileKeepsItsModeAndANewOneFollowsTheUmask) {
    test::TempFolder dir;
    const auto privateFile = dir / "private.tessoral";
    ProjectIO::save(Session{}, privateFile);
    ASSERT_EQ(::chmod(privateFile.c_str(), 0600), 0);
    ProjectIO::save(Session{}, privateFile);
    EXPECT_EQ(modeOf(privateFile), 0600u);
    const auto shared = dir / "shared.wav";
    test::writeFile(shared, {1});
    ASSERT_EQ(::chmod(shared.c_str(), 0664), 0);
    AtomicFile::writeSeekable(shared, [](int fd) { writeAll(fd, "RIFF"); });
    EXPECT_EQ(modeOf(shared), 0664u);

    const mode_t previous = ::umask(027);
    AtomicFile::write(dir / "fresh.bin", [&](ByteSink& sink) {
        // Readable by nobody else while it is written, whatever the umask allows.
        const auto being = temporaries(dir.path());
        ASSERT_EQ(being.size(), 1u);
        EXPECT_EQ(modeOf(dir / being[0]), 0600u);
        sink.write("\x01", 1);
    });
    ::umask(077);
    AtomicFile::write(dir / "closed.bin", std::vector<std::uint8_t>{1});
    ::umask(previous);
    EXPECT_EQ(modeOf(dir / "fresh.bin"), 0640u);
    EXPECT_EQ(modeOf(dir / "closed.bin"), 0600u);
}

TEST(AtomicFile, TemporariesAKilledWriterLeftGoAtTheNextWriteAndLiveOnesStay) {
    test::TempFolder dir;
    const auto target = dir / "song.tessoral";
    test::writeFile(target, {1});
    // Left by killed writers: two of this target (also the old upper-case digits), two of others
    // (one whose name starts like this one's).
    for (const char* name : {".song.tessoral.0A1B2C3D.tmp", ".song.tessoral.deadbeef.tmp", ".other.wav.12345678.tmp",
                             ".song.tessoral.old.ABCDEF12.tmp"})
        test::writeFile(dir / name, std::vector<std::uint8_t>(1000, 7));
    // Not ours: a name that only looks similar.
    test::writeFile(dir / ".song.tessoral.notahex!.tmp", {1});
    // Being written by someone else right now: its lock is held.
    test::writeFile(dir / ".song.tessoral.FEEDF00D.tmp", {1});
    const int held = ::open((dir / ".song.tessoral.FEEDF00D.tmp").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    AtomicFile::write(target, std::vector<std::uint8_t>{2});
    EXPECT_EQ(test::folderEntries(dir.path()),
              (std::vector<std::string>{".other.wav.12345678.tmp", ".song.tessoral.FEEDF00D.tmp",
                                        ".song.tessoral.notahex!.tmp", ".song.tessoral.old.ABCDEF12.tmp",
                                        "song.tessoral"}));
    // A whole folder at once (the data folder at start-up): every one nobody holds.
    EXPECT_EQ(AtomicFile::removeStale(dir.path()), 2);
    EXPECT_EQ(test::folderEntries(dir.path()),
              (std::vector<std::string>{".song.tessoral.FEEDF00D.tmp", ".song.tessoral.notahex!.tmp", "song.tessoral"}));
    ::close(held);
    EXPECT_EQ(AtomicFile::removeStale(dir.path()), 1);
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

TEST(AtomicFile, TheRecordListsTheTemporariesBeingWrittenAndTheNextStartRemovesTheAbandonedOnes) {
    test::TempFolder data, out;
    const auto record = data / "Temporaries";
    AtomicFile::recordTemporariesIn(data.path());
    std::vector<std::string> during;
    AtomicFile::write(out / "mix.wav", [&](ByteSink& sink) {
        for (const auto& entry : test::folderEntries(record)) {
            const auto bytes = test::readFile(record / entry);
            during.emplace_back(bytes.begin(), bytes.end());
        }
        sink.write("x", 1);
    });
    AtomicFile::recordTemporariesIn(std::nullopt);
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind((out / ".mix.wav.").string(), 0), 0u) << during[0];
    EXPECT_TRUE(AtomicFile::isTemporaryName(std::filesystem::path(during[0].substr(0, during[0].size() - 1)).filename().native()));
    EXPECT_EQ(during[0].back(), '\n');
    EXPECT_EQ(test::folderEntries(record), std::vector<std::string>{});

    // What killed runs left: an abandoned temporary, one still being written, one already gone,
    // an entry cut short, and entries naming files that are no temporaries.
    auto entry = [&](const std::string& name, const std::string& text) {
        test::writeFile(record / name, std::vector<std::uint8_t>(text.begin(), text.end()));
    };
    const auto abandoned = out / ".take.flac.0A1B2C3D.tmp";
    const auto held = out / ".song.tessoral.FEEDF00D.tmp";
    const auto cut = out / ".cut.wav.12345678.tmp";
    for (const auto& p : {abandoned, held, cut, out / "mix.wav.0A1B2C3D.tmp"}) test::writeFile(p, {1});
    const int lock = ::open(held.c_str(), O_RDONLY);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    entry("a", abandoned.string() + "\n");
    entry("b", held.string() + "\n");
    entry("c", (out / ".gone.wav.87654321.tmp").string() + "\n");
    entry("d", cut.string());
    entry("e", (out / "mix.wav").string() + "\n");
    entry("f", (out / "mix.wav.0A1B2C3D.tmp").string() + "\n");
    EXPECT_EQ(AtomicFile::removeRecordedStale(data.path()), 1);
    EXPECT_EQ(test::folderEntries(out.path()), (std::vector<std::string>{".cut.wav.12345678.tmp",
                                                                          ".song.tessoral.FEEDF00D.tmp", "mix.wav",
                                                                          "mix.wav.0A1B2C3D.tmp"}));
    // The entry of the write under way stays for a later start.
    EXPECT_EQ(test::folderEntries(record), std::vector<std::string>{"b"});
    ::close(lock);
    EXPECT_EQ(AtomicFile::removeRecordedStale(data.path()), 1);
    EXPECT_EQ(test::folderEntries(record), std::vector<std::string>{});
}

TEST(AtomicFile, WritesOfOneTargetTakeTurnsSoOnlyOneTemporaryExists) {
    test::TempFolder dir;
    const auto target = dir / "autosave.bin";
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::atomic<std::size_t> seen{0};
    auto writer = [&](std::uint8_t value) {
        for (int i = 0; i < 20; ++i)
            AtomicFile::write(target, [&](ByteSink& sink) {
                const int now = ++inside;
                most = std::max(most.load(), now);
                seen = std::max(seen.load(), temporaries(dir.path()).size());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                sink.write(&value, 1);
                --inside;
            });
    };
    std::thread a(writer, 1), b(writer, 2);
    a.join();
    b.join();
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(seen.load(), 1u);
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

TEST(AtomicFile, ASignalHandlerRemovesTheTemporariesBeingWritten) {
    test::TempFolder dir;
    EXPECT_THROW(AtomicFile::write(dir / "a.bin",
                                   [&](ByteSink& sink) {
                                       sink.write("x", 1);
                                       EXPECT_EQ(temporaries(dir.path()).size(), 1u);
                                       AtomicFile::removeLiveTemporariesNow();
                                       EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
                                       throw std::runtime_error("the program ends here");
                                   }),
                 std::runtime_error);
    // Finished writes are no longer listed: the handler leaves their files alone.
    AtomicFile::write(dir / "b.bin", std::vector<std::uint8_t>{1});
    AtomicFile::removeLiveTemporariesNow();
    EXPECT_EQ(test::folderEntries(dir.path()), std::vector<std::string>{"b.bin"});
}

}  // namespace
