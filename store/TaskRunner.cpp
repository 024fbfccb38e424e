#include "store/TaskRunner.h"

#include <QMetaObject>
#include <QThread>
#include <QThreadPool>
#include <QtGlobal>

#include <algorithm>
#include <exception>

namespace tessoral {

TaskRunner::~TaskRunner() = default;

namespace {

// A result's `done` must not throw into the event loop; one that does is reported, not propagated.
void finishSafely(const std::function<void()>& finish) {
    try {
        finish();
    } catch (const std::exception& e) {
        qWarning("A background task's result handler threw: %s", e.what());
    } catch (...) {
        qWarning("A background task's result handler threw");
    }
}

}  // namespace

// Lives on the main thread; workers queue finished results to it. It checks the context there
// (a QPointer is only read on its own thread), so a result whose context is gone is dropped.
class QtTaskRunner::Relay final : public QObject {
public:
    void deliver(bool guarded, QPointer<QObject> context, std::function<void()> finish) {
        QMetaObject::invokeMethod(
            this,
            [guarded, context = std::move(context), finish = std::move(finish)] {
                if (!guarded || context) finishSafely(finish);
            },
            Qt::QueuedConnection);
    }
};

QtTaskRunner::QtTaskRunner()
    : relay_(std::make_unique<Relay>()),
      userPool_(std::make_unique<QThreadPool>()),
      utilityPool_(std::make_unique<QThreadPool>()),
      readPool_(std::make_unique<QThreadPool>()) {
    const int cores = std::max(1, QThread::idealThreadCount());
    userPool_->setMaxThreadCount(cores);
    readPool_->setMaxThreadCount(cores);
    utilityPool_->setMaxThreadCount(std::max(1, cores / 2));
    utilityPool_->setThreadPriority(QThread::LowPriority);
}

QtTaskRunner::~QtTaskRunner() {
    userPool_->clear();
    utilityPool_->clear();
    readPool_->clear();
    userPool_->waitForDone();
    utilityPool_->waitForDone();
    readPool_->waitForDone();
}

void QtTaskRunner::waitForIdle() {
    userPool_->waitForDone();
    utilityPool_->waitForDone();
}

bool QtTaskRunner::abandonReads() {
    readPool_->clear();
    return readPool_->activeThreadCount() > 0;
}

void QtTaskRunner::runRead(std::function<void()> work) { readPool_->start(std::move(work)); }

void QtTaskRunner::submit(QObject* context, TaskPriority priority, std::function<void()> work,
                          std::function<void()> finish) {
    QPointer<QObject> guard(context);
    const bool guarded = context != nullptr;
    Relay* relay = relay_.get();
    QThreadPool& pool = priority == TaskPriority::utility    ? *utilityPool_
                        : priority == TaskPriority::userRead ? *readPool_
                                                             : *userPool_;
    pool.start([relay, guarded, guard = std::move(guard), work = std::move(work), finish = std::move(finish)]() mutable {
        work();  // never throws: run() wraps it
        relay->deliver(guarded, std::move(guard), std::move(finish));
    });
}

void ManualTaskRunner::submit(QObject* context, TaskPriority priority, std::function<void()> work,
                              std::function<void()> finish) {
    queue_.push_back(Task{context != nullptr, QPointer<QObject>(context), priority, std::move(work), std::move(finish)});
}

bool ManualTaskRunner::runNext() {
    if (queue_.empty()) return false;
    Task task = std::move(queue_.front());
    queue_.pop_front();
    task.work();
    if (!task.guarded || task.context) task.finish();  // a throwing handler reaches the test
    return true;
}

bool ManualTaskRunner::runNextWithoutResult() {
    if (queue_.empty()) return false;
    Task task = std::move(queue_.front());
    queue_.pop_front();
    task.work();
    return true;
}

int ManualTaskRunner::runAll() {
    int ran = 0;
    while (runNext()) ++ran;
    return ran;
}

std::optional<TaskPriority> ManualTaskRunner::nextPriority() const {
    if (queue_.empty()) return std::nullopt;
    return queue_.front().priority;
}

}  // namespace tessoral
