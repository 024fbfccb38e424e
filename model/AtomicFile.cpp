#include "model/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "model/AppPaths.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/Uuid.h"

namespace tessoral::AtomicFile {

namespace {

constexpr std::size_t kNameKept = 200;
constexpr const char* kSuffix = ".tmp";
constexpr std::size_t kSuffixLength = 4;
constexpr std::size_t kHexDigits = 8;
// Links followed before a chain counts as a loop (the kernel's own limit).
constexpr int kMaxLinks = 40;

// Throws the failure of a write to `target` for an errno value.
class Failure {
public:
    Failure(const std::filesystem::path& target, const Describe& describe) : target_(target), describe_(describe) {}

    [[noreturn]] void operator()(int error) const {
        const std::string detail = std::error_code(error, std::system_category()).message();
        if (describe_) throw FileWriteError(describe_(detail), error);
        throw FileWriteError(L("Не удалось записать файл «{0}»: {1}", target_.filename().string(), detail), error);
    }

private:
    const std::filesystem::path& target_;
    const Describe& describe_;
};

// Buffered writes to a file descriptor; large blocks bypass the buffer.
class FdSink final : public ByteSink {
public:
    FdSink(int fd, const Failure& fail) : fd_(fd), fail_(fail) { buffer_.reserve(kBuffer); }

    void write(const void* bytes, std::size_t count) override {
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        if (buffer_.size() + count <= kBuffer) {
            buffer_.insert(buffer_.end(), p, p + count);
            return;
        }
        flush();
        if (count >= kBuffer / 2) {
            writeAll(p, count);
        } else {
            buffer_.insert(buffer_.end(), p, p + count);
        }
    }

    void flush() {
        writeAll(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

private:
    static constexpr std::size_t kBuffer = 1 << 20;

    void writeAll(const std::uint8_t* p, std::size_t count) {
        while (count > 0) {
            // Linux writes at most about 2 GiB per call; smaller pieces keep progress steady.
            const std::size_t piece = std::min<std::size_t>(count, std::size_t{1} << 30);
            const ssize_t n = ::write(fd_, p, piece);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail_(errno);
            }
            if (n == 0) fail_(EIO);
            p += n;
            count -= static_cast<std::size_t>(n);
        }
    }

    int fd_;
    const Failure& fail_;
    std::vector<std::uint8_t> buffer_;
};

// ---- the temporaries being written, for a signal handler ----

// A fixed table that a signal handler can read without locks: a slot is free (0), being filled (1)
// or names a live temporary (2).
struct LiveSlot {
    std::atomic<int> state{0};
    char path[4096]{};
};
static_assert(std::atomic<int>::is_always_lock_free);
std::array<LiveSlot, 32> liveSlots;

int registerLive(const std::filesystem::path& path) {
    const std::string& text = path.native();
    if (text.size() >= sizeof(LiveSlot::path)) return -1;
    for (std::size_t i = 0; i < liveSlots.size(); ++i) {
        int expected = 0;
        if (!liveSlots[i].state.compare_exchange_strong(expected, 1)) continue;
        std::memcpy(liveSlots[i].path, text.c_str(), text.size() + 1);
        liveSlots[i].state.store(2);
        return static_cast<int>(i);
    }
    return -1;  // more writes at once than slots: that one is not removed by a signal
}

void unregisterLive(int slot) {
    if (slot >= 0) liveSlots[static_cast<std::size_t>(slot)].state.store(0);
}

// ---- the record of temporaries being written, for the next start ----

// One small file per write in the record folder, holding the temporary's absolute path and a line
// break; it goes when the write ends. A killed run leaves its entries, and the next start removes
// the temporaries they name wherever they are.
constexpr const char* kRecordFolder = "Temporaries";

std::mutex recordMutex;
std::optional<std::filesystem::path> recordFolder;

std::optional<std::filesystem::path> currentRecordFolder() {
    std::lock_guard lock(recordMutex);
    return recordFolder;
}

// Records `temporary`; returns the entry's path (empty when no record is kept or it failed: the
// write goes on unrecorded).
std::filesystem::path addRecordEntry(const std::filesystem::path& temporary) {
    const auto folder = currentRecordFolder();
    if (!folder) return {};
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(temporary, ec);
    if (ec) return {};
    const std::string line = absolute.native() + "\n";
    const std::filesystem::path entry = *folder / Uuid::random().text();
    int fd = ::open(entry.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        try {
            AppPaths::createFolders(*folder, entry);
        } catch (...) {
            return {};
        }
        fd = ::open(entry.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (fd < 0) return {};
    const bool whole = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    if (!whole) {
        ::unlink(entry.c_str());
        return {};
    }
    return entry;
}

void removeRecordEntry(std::filesystem::path& entry) {
    if (!entry.empty()) ::unlink(entry.c_str());
    entry.clear();
}

// ---- one write per target at a time within the program ----

std::mutex turnsMutex;
std::condition_variable turnsFree;
std::set<std::string> targetsInWrite;

class TargetTurn {
public:
    explicit TargetTurn(std::string key) : key_(std::move(key)) {
        std::unique_lock lock(turnsMutex);
        turnsFree.wait(lock, [&] { return !targetsInWrite.contains(key_); });
        targetsInWrite.insert(key_);
    }
    ~TargetTurn() {
        {
            std::lock_guard lock(turnsMutex);
            targetsInWrite.erase(key_);
        }
        turnsFree.notify_all();
    }
    TargetTurn(const TargetTurn&) = delete;
    TargetTurn& operator=(const TargetTurn&) = delete;

private:
    std::string key_;
};

// The same target however it is spelt: the folder's device and inode plus the name.
std::string targetKey(const std::filesystem::path& folder, const std::string& name) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return folder.native() + "/" + name;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + "/" + name;
}

// ---- the temporary ----

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

std::string randomHex() { return Uuid::random().text().substr(0, kHexDigits); }

// Removes the temporary at `path` unless a write holds its lock. The lock is taken first and the
// name checked to still be that file, so a temporary that a writer has just made is never removed.
bool removeIfAbandoned(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    bool removed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && S_ISREG(held.st_mode) &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            removed = ::unlink(path.c_str()) == 0;
    }
    ::close(fd);
    return removed;
}

// Names in `folder` (raw bytes) for which `keep` is true.
template <class Keep>
std::vector<std::string> folderNames(const std::filesystem::path& folder, Keep keep) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (keep(name)) names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// The temporary file: created, locked and registered; removed on destruction unless kept.
class Temporary {
public:
    Temporary(const std::filesystem::path& folder, const std::string& name, const Failure& fail) {
        // A fresh name beside the target: same file system, so the rename is atomic.
        for (int attempt = 0; attempt < 16; ++attempt) {
            path_ = folder / ("." + name + "." + randomHex() + kSuffix);
            // Registered and recorded before it exists, so that neither a signal handler nor the
            // next start after a kill misses it.
            slot_ = registerLive(path_);
            entry_ = addRecordEntry(path_);
            // Private while it is written; it gets its final mode before the rename.
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd_ < 0) {
                const int error = errno;
                unregisterLive(slot_);
                slot_ = -1;
                removeRecordEntry(entry_);
                if (error != EEXIST) fail(error);
                continue;
            }
            // The lock marks it as being written; a second description holds it so that the
            // writing one can be closed (and its delayed errors seen) before the rename.
            lockFd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            struct stat made {}, named {};
            if (lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd_, &made) == 0 &&
                ::lstat(path_.c_str(), &named) == 0 && made.st_dev == named.st_dev && made.st_ino == named.st_ino) {
                owned_ = true;
                return;
            }
            // Someone removing abandoned temporaries took it in the moment before the lock.
            if (::fstat(fd_, &made) == 0 && ::lstat(path_.c_str(), &named) == 0 && made.st_dev == named.st_dev &&
                made.st_ino == named.st_ino)
                ::unlink(path_.c_str());
            release();
            removeRecordEntry(entry_);
        }
        fail(EEXIST);
    }
    ~Temporary() {
        if (owned_ && !kept_) ::unlink(path_.c_str());
        release();
        removeRecordEntry(entry_);
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    // Closes the writing descriptor, reporting a failed close (delayed write errors show up there).
    int closeWriting() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }
    void keep() { kept_ = true; }

private:
    void release() {
        if (fd_ >= 0) ::close(fd_);
        if (lockFd_ >= 0) ::close(lockFd_);
        fd_ = -1;
        lockFd_ = -1;
        unregisterLive(slot_);
        slot_ = -1;
    }

    std::filesystem::path path_;
    std::filesystem::path entry_;  // in the record, when one is kept
    int fd_ = -1;
    int lockFd_ = -1;
    int slot_ = -1;
    bool owned_ = false;
    bool kept_ = false;
};

int syncFolder(const std::filesystem::path& folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return errno;
    int error = 0;
    // Some file systems cannot flush a folder; that is no failure of the write.
    if (::fsync(dir) != 0 && errno != EINVAL && errno != EROFS) error = errno;
    ::close(dir);
    return error;
}

// The process's umask, read without changing it (umask() would, for every thread at once).
mode_t currentUmask() {
    mode_t value = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::strncmp(line, "Umask:", 6) == 0) {
                value = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
                break;
            }
        std::fclose(status);
    }
    return value;
}

// `target` with its links followed; ELOOP for a chain that does not end.
std::filesystem::path resolve(const std::filesystem::path& target, int& error) {
    error = 0;
    std::filesystem::path p = target;
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::error_code ec;
        const std::filesystem::path link = std::filesystem::read_symlink(p, ec);
        if (ec) return p;
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    error = ELOOP;
    return p;
}

// Creates the temporary file beside the file `target` names, lets `produce` fill it through its
// descriptor, flushes it, gives it the replaced file's mode, renames it over that file and
// flushes the folder.
void commit(const std::filesystem::path& target, const std::function<void(int fd)>& produce, const Failure& fail) {
    int loop = 0;
    const std::filesystem::path real = resolve(target, loop);
    if (loop) fail(loop);
    std::filesystem::path folder = real.parent_path();
    if (folder.empty()) folder = ".";
    // The temporary name repeats at most the start of the target's, so that a target name near
    // the file system's limit of 255 bytes still leaves room for the additions.
    const std::string name = real.filename().native().substr(0, kNameKept);

    const TargetTurn turn(targetKey(folder, name));
    for (const std::string& stale : folderNames(folder, [&](const std::string& n) { return isTemporaryName(n, real.filename().native()); }))
        removeIfAbandoned(folder / stale);

    Temporary temp(folder, name, fail);
    produce(temp.fd());

    // The replaced file's owner, group and mode; a new file gets the umask's mode.
    struct stat old {};
    mode_t mode = 0666 & ~currentUmask();
    if (::stat(real.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // Keeping the owner may be refused (another user's file); the group may still be kept.
        if (::fchown(temp.fd(), old.st_uid, old.st_gid) != 0) (void)::fchown(temp.fd(), static_cast<uid_t>(-1), old.st_gid);
        mode = old.st_mode & 07777;
    }
    // Some file systems keep no modes and refuse the change; the file is written all the same.
    if (::fchmod(temp.fd(), mode) != 0 && errno != EPERM) fail(errno);
    if (::fsync(temp.fd()) != 0) fail(errno);
    if (temp.closeWriting() != 0) fail(errno);
    if (::rename(temp.path().c_str(), real.c_str()) != 0) fail(errno);
    temp.keep();
    if (const int error = syncFolder(folder)) fail(error);
}

}  // namespace

void write(const std::filesystem::path& target, const std::function<void(ByteSink&)>& produce) {
    const Describe none;
    const Failure fail(target, none);
    commit(
        target,
        [&](int fd) {
            FdSink sink(fd, fail);
            produce(sink);
            sink.flush();
        },
        fail);
}

void write(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    write(target, [&](ByteSink& sink) { sink.write(bytes.data(), bytes.size()); });
}

void writeSeekable(const std::filesystem::path& target, const std::function<void(int fd)>& produce,
                   const Describe& describe) {
    commit(target, produce, Failure(target, describe));
}

std::filesystem::path resolvedTarget(const std::filesystem::path& target) {
    int loop = 0;
    const std::filesystem::path real = resolve(target, loop);
    return loop ? target : real;
}

bool isTemporaryName(const std::string& name, const std::string& targetName) {
    // "." + name + "." + 8 hex digits + ".tmp"
    constexpr std::size_t added = 1 + 1 + kHexDigits + kSuffixLength;
    if (name.size() < added + 1 || name.front() != '.') return false;
    if (name.compare(name.size() - kSuffixLength, kSuffixLength, kSuffix) != 0) return false;
    const std::size_t hexAt = name.size() - kSuffixLength - kHexDigits;
    if (name[hexAt - 1] != '.') return false;
    for (std::size_t i = hexAt; i < hexAt + kHexDigits; ++i)
        if (!isHex(name[i])) return false;
    if (targetName.empty()) return true;
    const std::string kept = targetName.substr(0, kNameKept);
    return hexAt - 2 == kept.size() && name.compare(1, kept.size(), kept) == 0;
}

int removeStale(const std::filesystem::path& folder) {
    int removed = 0;
    for (const std::string& name : folderNames(folder, [](const std::string& n) { return isTemporaryName(n); }))
        if (removeIfAbandoned(folder / name)) ++removed;
    return removed;
}

void recordTemporariesIn(const std::optional<std::filesystem::path>& folder) {
    std::lock_guard lock(recordMutex);
    recordFolder = folder ? std::optional<std::filesystem::path>(*folder / kRecordFolder) : std::nullopt;
}

int removeRecordedStale(const std::filesystem::path& folder) {
    const std::filesystem::path record = folder / kRecordFolder;
    int removed = 0;
    for (const std::string& name : folderNames(record, [](const std::string& n) { return n.front() != '.'; })) {
        const std::filesystem::path entry = record / name;
        std::string line;
        if (const int fd = ::open(entry.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); fd >= 0) {
            char buffer[4200];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) line.assign(buffer, static_cast<std::size_t>(n));
            ::close(fd);
        }
        // An entry cut short names no temporary: the kill came before the temporary was made.
        if (!line.empty() && line.back() == '\n') {
            const std::filesystem::path temporary = line.substr(0, line.size() - 1);
            if (temporary.is_absolute() && isTemporaryName(temporary.filename().native())) {
                if (removeIfAbandoned(temporary)) {
                    ++removed;
                } else {
                    struct stat st {};
                    // Still there: held by a write under way, so its entry stays too.
                    if (::lstat(temporary.c_str(), &st) == 0) continue;
                }
            }
        }
        ::unlink(entry.c_str());
    }
    return removed;
}

void removeLiveTemporariesNow() noexcept {
    for (LiveSlot& slot : liveSlots)
        if (slot.state.load() == 2) ::unlink(slot.path);
}

}  // namespace tessoral::AtomicFile
