#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/Scheduler.h"

namespace tessoral {

// A scheduler whose time moves only when the test says so. Two ways to move it:
// - advance(ticks): the transport's old tick rounds, which ignore intervals;
// - advanceBy(seconds): virtual time, which fires one-shots and repeating timers at their due
//   times in time order (creation order among equal times), then runs the posted calls.
// Ticking with advance() allocates nothing.
class ManualScheduler final : public Scheduler {
public:
    std::unique_ptr<RepeatingTimer> repeat(double intervalSeconds, std::function<void()> tick) override;
    std::unique_ptr<SingleShot> singleShot(double seconds, std::function<void()> fire) override;
    void post(std::function<void()> call) override;

    // Runs `ticks` rounds; each round ticks, in creation order, every repeating timer that existed
    // when the round began and has not been destroyed since. One-shots and posted calls wait.
    void advance(int ticks = 1);
    // Moves virtual time forward by `seconds`: every one-shot and repeating timer due by then fires
    // in time order (a repeating one as many times as it falls due; a timer made meanwhile joins in
    // at its own due time), then runPosted().
    void advanceBy(double seconds);
    // Runs the posted calls in order, including those they post, until none is left. Returns how
    // many ran.
    int runPosted();

    // The virtual time: what advanceBy() has added up.
    double now() const override { return state_->now; }
    int activeTimers() const;     // repeating timers alive
    int pendingSingleShots() const;
    int pendingPosts() const;

private:
    struct Entry {
        std::function<void()> tick;
        double interval = 0.0;
        double origin = 0.0;  // when it was made
        double due = 0.0;
        unsigned long long fired = 0;
        unsigned long long order = 0;
        bool repeating = true;
        bool alive = true;
    };
    struct State {
        std::vector<std::shared_ptr<Entry>> entries;
        int depth = 0;  // rounds running (a tick may advance the scheduler itself)
        double now = 0.0;
        unsigned long long nextOrder = 0;
        mutable std::mutex postMutex;  // post() may come from any thread
        std::deque<std::function<void()>> posted;
        void sweep();
    };
    std::shared_ptr<Entry> add(double delay, double interval, bool repeating, std::function<void()> fn);
    class Handle;
    class ShotHandle;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tessoral
