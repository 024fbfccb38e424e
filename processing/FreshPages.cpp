#include "processing/FreshPages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "processing/WorkerPool.h"

namespace tessoral::FreshPages {

namespace {

// Smaller buffers are left to their first write; larger ones are mapped in parts of this size.
constexpr std::size_t kMapFrom = std::size_t{16} << 20;
constexpr std::size_t kPart = std::size_t{8} << 20;

// Maps the pages of [begin, begin + bytes) writable (their contents are not defined yet).
void mapPages(char* begin, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto first = reinterpret_cast<std::uintptr_t>(begin) & ~(page - 1);
    if (::madvise(reinterpret_cast<void*>(first), reinterpret_cast<std::uintptr_t>(begin) + bytes - first,
                  MADV_POPULATE_WRITE) == 0)
        return;
#endif
    // Kernels before 5.14: one write per page.
    const auto step = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (std::size_t i = 0; i < bytes; i += step) reinterpret_cast<volatile char*>(begin)[i] = 0;
}

// The parts are taken in turn by this thread and by the pool threads that come free while some
// remain; it waits only for parts already under way, so it ends even when the pool is busy.
struct Job {
    char* base = nullptr;
    std::size_t bytes = 0, parts = 0;
    std::atomic<std::size_t> next{0};
    std::size_t done = 0;
    std::mutex lock;
    std::condition_variable finished;

    void run() {
        for (std::size_t i; (i = next++) < parts;) {
            const std::size_t from = i * kPart;
            mapPages(base + from, std::min(kPart, bytes - from));
            std::lock_guard guard(lock);
            if (++done == parts) finished.notify_all();
        }
    }
};

void mapInParallel(void* data, std::size_t bytes) {
    auto job = std::make_shared<Job>();
    job->base = static_cast<char*>(data);
    job->bytes = bytes;
    job->parts = (bytes + kPart - 1) / kPart;
    const std::size_t helpers = std::min<std::size_t>(job->parts, WorkerPool::size()) - 1;
    for (std::size_t i = 0; i < helpers; ++i) WorkerPool::post([job] { job->run(); });
    job->run();
    std::unique_lock guard(job->lock);
    job->finished.wait(guard, [&] { return job->done == job->parts; });
}

std::vector<float> mapped(std::size_t frames) {
    std::vector<float> samples;
    if (frames * sizeof(float) >= kMapFrom) {
        samples.reserve(frames);
        mapInParallel(samples.data(), frames * sizeof(float));
    }
    return samples;
}

}  // namespace

std::vector<float> zeroed(std::size_t frames) {
    std::vector<float> samples = mapped(frames);
    samples.resize(frames);
    return samples;
}

std::vector<float> copied(std::span<const float> samples) {
    std::vector<float> out = mapped(samples.size());
    out.assign(samples.begin(), samples.end());
    return out;
}

}  // namespace tessoral::FreshPages
