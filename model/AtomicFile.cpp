#include "model/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "model/Localization.h"
#include "model/StudioError.h"
#include "model/Uuid.h"

namespace tessoral::AtomicFile {

namespace {

constexpr std::size_t kNameKept = 200;

// Throws the failure of a write to `target` for an errno value.
class Failure {
public:
    Failure(const std::filesystem::path& target, const Describe& describe) : target_(target), describe_(describe) {}

    [[noreturn]] void operator()(int error) const {
        const std::string detail = std::error_code(error, std::system_category()).message();
        if (describe_) throw PlatformError(describe_(detail));
        throw PlatformError(L("Не удалось записать файл «{0}»: {1}", target_.filename().string(), detail));
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

// Removes the temporary file and closes its descriptor unless the write was completed.
class Temporary {
public:
    Temporary(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    ~Temporary() {
        if (fd_ >= 0) ::close(fd_);
        if (!done_) ::unlink(path_.c_str());
    }
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    // Closes the descriptor, reporting a failed close (delayed write errors show up there).
    int close() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }
    void keep() { done_ = true; }

private:
    std::filesystem::path path_;
    int fd_;
    bool done_ = false;
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

// Creates the temporary file beside `target`, lets `produce` fill it through its descriptor,
// flushes it, renames it over the target and flushes the folder.
void commit(const std::filesystem::path& target, const std::function<void(int fd)>& produce, const Failure& fail) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    // The temporary name repeats at most the start of the target's, so that a target name near
    // the file system's limit of 255 bytes still leaves room for the additions.
    const std::string name = target.filename().string().substr(0, kNameKept);

    // A fresh name beside the target: same file system, so the rename is atomic.
    int fd = -1;
    std::filesystem::path tempPath;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tempPath = folder / ("." + name + "." + Uuid::random().text().substr(0, 8) + ".tmp");
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) fail(errno);
    }
    if (fd < 0) fail(EEXIST);
    Temporary temp(tempPath, fd);

    produce(temp.fd());
    if (::fsync(temp.fd()) != 0) fail(errno);
    if (temp.close() != 0) fail(errno);
    if (::rename(temp.path().c_str(), target.c_str()) != 0) fail(errno);
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

}  // namespace tessoral::AtomicFile
