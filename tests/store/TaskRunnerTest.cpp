#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/TaskRunner.h"
#include "support/store/EventLoop.h"

using namespace tessoral;
using tessoral::test::spinUntil;

TEST(ManualTaskRunner, RunsWorkThenItsResultInOrderWhenAsked) {
    ManualTaskRunner runner;
    QObject context;
    std::vector<std::string> log;
    runner.run(&context, TaskPriority::userInitiated, [&] {
        log.push_back("work 1");
        return 42;
    }, [&](TaskResult<int> r) { log.push_back("done 1: " + std::to_string(r.value())); });
    runner.run(&context, TaskPriority::utility, [&] { log.push_back("work 2"); },
               [&](TaskResult<void> r) {
                   EXPECT_TRUE(r.ok());
                   log.push_back("done 2");
               });
    EXPECT_TRUE(log.empty());  // nothing runs by itself
    EXPECT_EQ(runner.pending(), 2u);
    EXPECT_EQ(runner.nextPriority(), TaskPriority::userInitiated);
    EXPECT_TRUE(runner.runNext());
    EXPECT_EQ(log, (std::vector<std::string>{"work 1", "done 1: 42"}));
    EXPECT_EQ(runner.nextPriority(), TaskPriority::utility);
    EXPECT_EQ(runner.runAll(), 1);
    EXPECT_EQ(log.back(), "done 2");
    EXPECT_FALSE(runner.runNext());
}

TEST(ManualTaskRunner, ExceptionsReachDoneAndAGoneContextDropsTheResult) {
    ManualTaskRunner runner;
    auto context = std::make_unique<QObject>();
    std::string message;
    runner.run(context.get(), TaskPriority::userInitiated, []() -> std::string { throw std::runtime_error("disk full"); },
               [&](TaskResult<std::string> r) {
                   EXPECT_FALSE(r.ok());
                   try {
                       r.value();
                   } catch (const std::runtime_error& e) {
                       message = e.what();
                   }
               });
    runner.runAll();
    EXPECT_EQ(message, "disk full");

    bool worked = false, delivered = false;
    runner.run(context.get(), TaskPriority::utility, [&] { worked = true; }, [&](TaskResult<void>) { delivered = true; });
    context.reset();
    runner.runAll();
    EXPECT_TRUE(worked);  // the work still runs (it may be writing a file) …
    EXPECT_FALSE(delivered);  // … but nobody is left to hear of it

    // Without a context there is nobody to wait for: the result always arrives.
    runner.run(nullptr, TaskPriority::utility, [] { return 1; }, [&](TaskResult<int>) { delivered = true; });
    runner.runAll();
    EXPECT_TRUE(delivered);
}

TEST(ManualTaskRunner, RunAllIncludesTasksStartedByResults) {
    ManualTaskRunner runner;
    QObject context;
    int chain = 0;
    std::function<void(TaskResult<int>)> next = [&](TaskResult<int> r) {
        chain = r.value();
        if (chain < 5) runner.run(&context, TaskPriority::userInitiated, [v = chain] { return v + 1; }, next);
    };
    runner.run(&context, TaskPriority::userInitiated, [] { return 1; }, next);
    EXPECT_EQ(runner.runAll(), 5);
    EXPECT_EQ(chain, 5);
}

TEST(ManualTaskRunner, MoveOnlyResultsArriveWhole) {
    ManualTaskRunner runner;
    QObject context;
    std::unique_ptr<std::vector<float>> got;
    runner.run(&context, TaskPriority::userInitiated, [] { return std::make_unique<std::vector<float>>(1000, 0.5f); },
               [&](TaskResult<std::unique_ptr<std::vector<float>>> r) { got = std::move(r.value()); });
    runner.runAll();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->size(), 1000u);
}

// ---- the thread-pool runner: real threads, results through the event loop ----

TEST(QtTaskRunner, WorkRunsOnWorkersAndResultsOnTheMainThread) {
    QtTaskRunner runner;
    QObject context;
    QThread* const main = QThread::currentThread();
    QThread* userThread = nullptr;
    QThread* utilityThread = nullptr;
    QThread::Priority utilityPriority = QThread::InheritPriority;
    int results = 0;
    std::string error;
    runner.run(&context, TaskPriority::userInitiated, [&] {
        userThread = QThread::currentThread();
        return 7;
    }, [&](TaskResult<int> r) {
        EXPECT_EQ(QThread::currentThread(), main);
        EXPECT_EQ(r.value(), 7);
        ++results;
    });
    runner.run(&context, TaskPriority::utility, [&] {
        utilityThread = QThread::currentThread();
        utilityPriority = QThread::currentThread()->priority();
    }, [&](TaskResult<void>) {
        EXPECT_EQ(QThread::currentThread(), main);
        ++results;
    });
    runner.run(&context, TaskPriority::userInitiated, []() -> int { throw std::invalid_argument("bad input"); },
               [&](TaskResult<int> r) {
                   try {
                       r.value();
                   } catch (const std::invalid_argument& e) {
                       error = e.what();
                   }
                   ++results;
               });
    // A read is never waited for at the end: it may hold a decoder for minutes.
    std::atomic<int> read{0};  // 1 running, 2 let go, 3 ended
    runner.run(&context, TaskPriority::userRead, [&] {
        read = 1;
        for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
             read == 1 && std::chrono::steady_clock::now() < until;)
            QThread::msleep(1);
        read = 3;
    }, [&](TaskResult<void>) { ++results; });
    spinUntil([&] { return results == 3 && read == 1; });
    runner.waitForIdle();
    EXPECT_TRUE(runner.abandonReads() && read == 1);
    read = 2;
    spinUntil([&] { return results == 4; });
    EXPECT_EQ(results, 4);
    EXPECT_NE(userThread, nullptr);
    EXPECT_NE(userThread, main);
    EXPECT_NE(utilityThread, main);
    EXPECT_EQ(utilityPriority, QThread::LowPriority);
    EXPECT_EQ(error, "bad input");
}

TEST(QtTaskRunner, ResultsForADestroyedContextAreDropped) {
    QtTaskRunner runner;
    auto context = std::make_unique<QObject>();
    bool delivered = false;
    bool worked = false;
    runner.run(context.get(), TaskPriority::userInitiated, [&] { worked = true; }, [&](TaskResult<void>) { delivered = true; });
    runner.waitForIdle();  // the result is queued by now
    context.reset();
    QObject other;
    bool otherDelivered = false;
    runner.run(&other, TaskPriority::userInitiated, [] {}, [&](TaskResult<void>) { otherDelivered = true; });
    bool unguarded = false;
    runner.run(nullptr, TaskPriority::utility, [] {}, [&](TaskResult<void>) { unguarded = true; });
    spinUntil([&] { return otherDelivered && unguarded; });  // results arrive in order: the first had its turn
    EXPECT_TRUE(worked);
    EXPECT_FALSE(delivered);
    EXPECT_TRUE(otherDelivered);
    EXPECT_TRUE(unguarded);
}
