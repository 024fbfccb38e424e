#pragma once

#include <QObject>
#include <QPointer>

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

class QThreadPool;

namespace tessoral {

// `userRead`: user-initiated work that only reads a person's files into something that is part of
// nothing yet (an import): the program may end without waiting for it.
enum class TaskPriority { userInitiated, utility, userRead };

// What a background task gave: its value, or the exception it threw.
template <class T>
class TaskResult {
public:
    static TaskResult success(T value) { return TaskResult(std::move(value), nullptr); }
    static TaskResult failure(std::exception_ptr error) { return TaskResult(std::nullopt, std::move(error)); }

    bool ok() const { return !error_; }
    std::exception_ptr error() const { return error_; }
    // The value; rethrows the task's exception when it failed.
    T& value() {
        if (error_) std::rethrow_exception(error_);
        return *value_;
    }
    const T& value() const {
        if (error_) std::rethrow_exception(error_);
        return *value_;
    }

private:
    TaskResult(std::optional<T> value, std::exception_ptr error) : value_(std::move(value)), error_(std::move(error)) {}
    std::optional<T> value_;
    std::exception_ptr error_;
};

template <>
class TaskResult<void> {
public:
    static TaskResult success() { return TaskResult(nullptr); }
    static TaskResult failure(std::exception_ptr error) { return TaskResult(std::move(error)); }
    bool ok() const { return !error_; }
    std::exception_ptr error() const { return error_; }
    // Rethrows the task's exception when it failed.
    void value() const {
        if (error_) std::rethrow_exception(error_);
    }

private:
    explicit TaskResult(std::exception_ptr error) : error_(std::move(error)) {}
    std::exception_ptr error_;
};

// Runs work on worker threads and hands each result back to the main thread.
class TaskRunner {
public:
    virtual ~TaskRunner();

    // Runs `work` (a callable returning T, over copies of what it needs) on a worker; `done` gets a
    // TaskResult<T> (the value, or the exception `work` threw) on the main thread, queued with
    // `context` as its receiver: when `context` is destroyed first, the result is dropped and
    // `done` never runs (a null `context` means no receiver to wait for: `done` always runs).
    // `work` and `done` must be copyable. Call from the main thread.
    template <class Work, class Done>
    void run(QObject* context, TaskPriority priority, Work work, Done done) {
        using T = std::invoke_result_t<Work&>;
        auto box = std::make_shared<std::optional<TaskResult<T>>>();
        std::function<void()> body = [work = std::move(work), box]() mutable {
            try {
                if constexpr (std::is_void_v<T>) {
                    work();
                    box->emplace(TaskResult<void>::success());
                } else {
                    box->emplace(TaskResult<T>::success(work()));
                }
            } catch (...) {
                box->emplace(TaskResult<T>::failure(std::current_exception()));
            }
        };
        std::function<void()> finish = [done = std::move(done), box]() mutable { done(std::move(**box)); };
        submit(context, priority, std::move(body), std::move(finish));
    }

    // Runs `work`, a read that its caller may give up (its caller waits for it while no stop
    // comes), with the reads that the program does not wait for at its end; nothing reaches the
    // main thread. `work` must not throw. Callable from any thread.
    virtual void runRead(std::function<void()> work) = 0;

protected:
    // The type-erased core: `work` runs on a worker and never throws; `finish` then runs on the
    // main thread unless `context` is gone by then.
    virtual void submit(QObject* context, TaskPriority priority, std::function<void()> work,
                        std::function<void()> finish) = 0;
};

// The program's runner: a thread pool for user-initiated work, a second, smaller pool of
// low-priority threads for utility work, and a third for reads. Results travel to the main thread
// as queued calls.
class QtTaskRunner final : public TaskRunner {
public:
    QtTaskRunner();
    // Drops the tasks that have not started, waits for the running ones; results not yet delivered
    // are dropped.
    ~QtTaskRunner() override;
    // Waits until the user-initiated and utility work is done (results may still be queued); reads
    // are not waited for. For tests and shutdown.
    void waitForIdle();
    // Drops the reads that have not started; true when one is still running (a decoder may take
    // minutes over a damaged file): the program then ends without destroying the runner.
    bool abandonReads();
    void runRead(std::function<void()> work) override;

protected:
    void submit(QObject* context, TaskPriority priority, std::function<void()> work,
                std::function<void()> finish) override;

private:
    class Relay;
    std::unique_ptr<Relay> relay_;  // lives on the main thread and receives the results
    std::unique_ptr<QThreadPool> userPool_;
    std::unique_ptr<QThreadPool> utilityPool_;
    std::unique_ptr<QThreadPool> readPool_;
};

// Runs nothing by itself: a test calls runNext() or runAll(). The work runs on the calling thread,
// its `done` right after it (unless the context is gone); an exception thrown by `done` reaches the
// caller of runNext().
class ManualTaskRunner final : public TaskRunner {
public:
    // Runs the oldest waiting task and its result; false when none waits.
    bool runNext();
    // Runs tasks until none waits, including those started meanwhile; returns how many ran.
    int runAll();
    // Runs the oldest waiting task's work and drops its result, as when the program ends before
    // the result is delivered; false when none waits.
    bool runNextWithoutResult();
    std::size_t pending() const { return queue_.size(); }
    // The priority of the oldest waiting task.
    std::optional<TaskPriority> nextPriority() const;
    // Runs the read at once, on the calling thread.
    void runRead(std::function<void()> work) override { work(); }

protected:
    void submit(QObject* context, TaskPriority priority, std::function<void()> work,
                std::function<void()> finish) override;

private:
    struct Task {
        bool guarded;  // a context was given
        QPointer<QObject> context;
        TaskPriority priority;
        std::function<void()> work;
        std::function<void()> finish;
    };
    std::deque<Task> queue_;
};

}  // namespace tessoral
