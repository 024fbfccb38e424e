#pragma once

#include <memory>

#include "transport/Scheduler.h"

class QObject;
class QElapsedTimer;

namespace tessoral {

// The program's main-thread time over QTimer and queued calls. Create and use it on the main
// thread (post() may be called from any thread).
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    std::unique_ptr<RepeatingTimer> repeat(double intervalSeconds, std::function<void()> tick) override;
    std::unique_ptr<SingleShot> singleShot(double seconds, std::function<void()> fire) override;
    void post(std::function<void()> call) override;
    // Seconds since the scheduler was made, on the monotonic clock.
    double now() const override;

private:
    std::unique_ptr<QObject> receiver_;  // posted calls are queued to it
    std::unique_ptr<QElapsedTimer> clock_;
};

}  // namespace tessoral
