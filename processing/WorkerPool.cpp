#include "processing/WorkerPool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tessoral::WorkerPool {

namespace {

class Pool {
public:
    explicit Pool(unsigned count) {
        threads_.reserve(count);
        for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
    }
    ~Pool() {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
    }

    void post(std::function<void()> job) {
        {
            std::lock_guard guard(lock_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }
    unsigned size() const { return static_cast<unsigned>(threads_.size()); }

private:
    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock guard(lock_);
                wake_.wait(guard, [&] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;  // stopping, with nothing left to do
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

Pool& pool() {
    static Pool p(std::max(std::thread::hardware_concurrency(), 2u));
    return p;
}

}  // namespace

void post(std::function<void()> job) { pool().post(std::move(job)); }

unsigned size() { return pool().size(); }

}  // namespace tessoral::WorkerPool
