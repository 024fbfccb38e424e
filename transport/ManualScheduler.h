#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "transport/Scheduler.h"

namespace tessoral {

// A scheduler whose time moves only when advance() is called. Ticking allocates nothing.
class ManualScheduler final : public Scheduler {
public:
    std::unique_ptr<RepeatingTimer> repeat(double intervalSeconds, std::function<void()> tick) override;
    // Runs `ticks` rounds; each round ticks, in creation order, every timer that existed when
    // the round began and has not been destroyed since.
    void advance(int ticks = 1);
    int activeTimers() const;

private:
    struct Entry {
        std::function<void()> tick;
        bool alive = true;
    };
    struct State {
        std::vector<std::shared_ptr<Entry>> entries;
        int depth = 0;  // rounds running (a tick may advance the scheduler itself)
        void sweep();
    };
    class Handle;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tessoral
