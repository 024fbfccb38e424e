#pragma once

#include <functional>
#include <memory>

namespace tessoral {

// A repeating timer; destroying it cancels it, also from inside its own tick.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
};

// A call due once after a delay; destroying the handle before it fires cancels it (destroying it
// from inside the call itself is allowed).
class SingleShot {
public:
    virtual ~SingleShot() = default;
};

// Main-thread time: the program passes a Qt timer, tests advance time by hand.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    // Calls `tick` on the main thread every `intervalSeconds` until the timer is destroyed.
    virtual std::unique_ptr<RepeatingTimer> repeat(double intervalSeconds, std::function<void()> tick) = 0;
    // Calls `fire` once on the main thread after `seconds` (0 or less: as soon as possible),
    // unless the handle is destroyed first.
    virtual std::unique_ptr<SingleShot> singleShot(double seconds, std::function<void()> fire) = 0;
    // Runs `call` later on the main thread, after the caller has returned. May be called from any
    // thread while the scheduler lives.
    virtual void post(std::function<void()> call) = 0;
    // Seconds on a monotonic clock (never set back), counted from an arbitrary origin: for measuring
    // spans between events, never a date.
    virtual double now() const = 0;
};

}  // namespace tessoral
