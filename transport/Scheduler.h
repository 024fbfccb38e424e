#pragma once

#include <functional>
#include <memory>

namespace tessoral {

// A repeating timer; destroying it cancels it, also from inside its own tick.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
};

// Main-thread time for the transport: the program passes a Qt timer, tests advance time by hand.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    // Calls `tick` on the main thread every `intervalSeconds` until the timer is destroyed.
    virtual std::unique_ptr<RepeatingTimer> repeat(double intervalSeconds, std::function<void()> tick) = 0;
};

}  // namespace tessoral
