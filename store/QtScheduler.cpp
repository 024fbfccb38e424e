#include "store/QtScheduler.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace tessoral {

namespace {

int milliseconds(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0.0) return 0;
    return static_cast<int>(std::llround(std::min(seconds, 2.0e6) * 1000.0));  // QTimer takes an int
}

// Owns a QTimer; destroying it stops the timer. The QTimer itself is deleted later, so that a
// handle destroyed from inside the timer's own call does not delete the object that is emitting.
class TimerHandle final : public RepeatingTimer, public SingleShot {
public:
    TimerHandle(double seconds, bool once, std::function<void()> fn) : timer_(new QTimer) {
        timer_->setSingleShot(once);
        timer_->setTimerType(Qt::PreciseTimer);
        // The call runs from a copy owned by the timer, so that the handle may go meanwhile.
        QObject::connect(timer_, &QTimer::timeout, timer_, [fn = std::move(fn)] { fn(); });
        timer_->start(milliseconds(seconds));
    }
    ~TimerHandle() override {
        timer_->stop();
        timer_->disconnect();
        timer_->deleteLater();
    }

private:
    QTimer* timer_;
};

}  // namespace

QtScheduler::QtScheduler() : receiver_(std::make_unique<QObject>()), clock_(std::make_unique<QElapsedTimer>()) {
    clock_->start();
}

QtScheduler::~QtScheduler() = default;

std::unique_ptr<RepeatingTimer> QtScheduler::repeat(double intervalSeconds, std::function<void()> tick) {
    return std::make_unique<TimerHandle>(std::max(intervalSeconds, 0.001), false, std::move(tick));
}

std::unique_ptr<SingleShot> QtScheduler::singleShot(double seconds, std::function<void()> fire) {
    return std::make_unique<TimerHandle>(seconds, true, std::move(fire));
}

void QtScheduler::post(std::function<void()> call) {
    QMetaObject::invokeMethod(receiver_.get(), [call = std::move(call)] { call(); }, Qt::QueuedConnection);
}

double QtScheduler::now() const {
    // QElapsedTimer uses the monotonic clock where the system has one (always on Linux).
    return static_cast<double>(clock_->nsecsElapsed()) * 1e-9;
}

}  // namespace tessoral
