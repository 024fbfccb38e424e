#include "model/StandardError.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace tessoral::StandardError {

namespace {

std::mutex& turn() {
    static std::mutex* m = new std::mutex;  // never destroyed: threads left behind may still write
    return *m;
}
int saved = -1;  // under turn()

}  // namespace

void write(std::string_view text) noexcept {
    std::lock_guard lock(turn());
    const int fd = saved >= 0 ? saved : STDERR_FILENO;
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void divert(int fd) noexcept {
    std::lock_guard lock(turn());
    saved = fd;
}

}  // namespace tessoral::StandardError
