#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "store/QtScheduler.h"
#include "support/store/EventLoop.h"
#include "transport/ManualScheduler.h"

using namespace tessoral;
using tessoral::test::spinUntil;

using Log = std::vector<std::string>;

TEST(ManualScheduler, AdvanceByFiresDueTimersInTimeOrderThenPostedCalls) {
    ManualScheduler s;
    Log log;
    auto late = s.singleShot(2.5, [&] { log.push_back("shot 2.5"); });
    auto early = s.singleShot(0.5, [&] { log.push_back("shot 0.5"); });
    auto timer = s.repeat(1.0, [&] { log.push_back("tick " + std::to_string(static_cast<int>(s.now()))); });
    s.post([&] { log.push_back("posted"); });
    s.advanceBy(3.0);
    EXPECT_EQ(log, (Log{"shot 0.5", "tick 1", "tick 2", "shot 2.5", "tick 3", "posted"}));
    EXPECT_DOUBLE_EQ(s.now(), 3.0);
    EXPECT_EQ(s.pendingSingleShots(), 0);
    EXPECT_EQ(s.activeTimers(), 1);

    // Not yet due: nothing fires; time still moves.
    log.clear();
    auto next = s.singleShot(0.75, [&] { log.push_back("shot"); });
    s.advanceBy(0.5);
    EXPECT_TRUE(log.empty());
    s.advanceBy(0.25);
    EXPECT_EQ(log, (Log{"shot"}));
    // Equal due times fire in creation order.
    log.clear();
    timer.reset();
    auto a = s.singleShot(1.0, [&] { log.push_back("a"); });
    auto b = s.singleShot(1.0, [&] { log.push_back("b"); });
    s.advanceBy(1.0);
    EXPECT_EQ(log, (Log{"a", "b"}));
}

TEST(ManualScheduler, DestroyingAHandleCancelsAlsoFromInsideItsOwnCall) {
    ManualScheduler s;
    int shots = 0, ticks = 0;
    auto cancelled = s.singleShot(1.0, [&] { ++shots; });
    cancelled.reset();
    std::unique_ptr<RepeatingTimer> timer;
    timer = s.repeat(0.5, [&] {
        if (++ticks == 3) timer.reset();  // the timer ends itself on its third tick
    });
    std::unique_ptr<SingleShot> self;
    self = s.singleShot(0.2, [&] {
        ++shots;
        self.reset();
    });
    s.advanceBy(10.0);
    EXPECT_EQ(shots, 1);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(s.activeTimers(), 0);
    EXPECT_EQ(s.pendingSingleShots(), 0);
}

TEST(ManualScheduler, CallsMadeWhileTimeMovesJoinInOrder) {
    ManualScheduler s;
    Log log;
    std::vector<std::unique_ptr<SingleShot>> keep;
    // A one-shot made by a timer at t = 1 for 0.5 s later fires at 1.5, before the timer's tick at 2.
    auto timer = s.repeat(1.0, [&] {
        log.push_back("tick");
        if (log.size() == 1)
            keep.push_back(s.singleShot(0.5, [&] {
                log.push_back("nested at " + std::to_string(s.now()).substr(0, 3));
                s.post([&] {
                    log.push_back("posted");
                    s.post([&] { log.push_back("posted by posted"); });
                });
            }));
    });
    s.advanceBy(2.0);
    EXPECT_EQ(log, (Log{"tick", "nested at 1.5", "tick", "posted", "posted by posted"}));
    EXPECT_EQ(s.pendingPosts(), 0);
}

TEST(ManualScheduler, TickRoundsIgnoreIntervalsAndLeaveOneShotsAndPostsAlone) {
    ManualScheduler s;
    int fast = 0, slow = 0, shot = 0, posted = 0;
    auto a = s.repeat(1.0 / 30.0, [&] { ++fast; });
    auto b = s.repeat(60.0, [&] { ++slow; });
    auto c = s.singleShot(0.0, [&] { ++shot; });
    s.post([&] { ++posted; });
    s.advance(3);
    EXPECT_EQ(fast, 3);
    EXPECT_EQ(slow, 3);
    EXPECT_EQ(shot, 0);
    EXPECT_EQ(posted, 0);
    EXPECT_EQ(s.runPosted(), 1);
    s.advanceBy(0.0);
    EXPECT_EQ(shot, 1);
}

TEST(ManualScheduler, DegenerateIntervalsCannotHangVirtualTime) {
    ManualScheduler s;
    int ticks = 0, shots = 0;
    auto zero = s.repeat(0.0, [&] { ++ticks; });
    auto nan = s.singleShot(std::numeric_limits<double>::quiet_NaN(), [&] { ++shots; });
    auto negative = s.singleShot(-5.0, [&] { ++shots; });
    s.advanceBy(1.0);
    EXPECT_EQ(ticks, 1000);  // one per millisecond at most
    EXPECT_EQ(shots, 2);     // due at once
    s.advanceBy(std::numeric_limits<double>::infinity());  // does not move time
    EXPECT_DOUBLE_EQ(s.now(), 1.0);
}

TEST(ManualScheduler, StepsOfAPeriodMeetTimersOfThatPeriodDespiteRounding) {
    ManualScheduler s;
    int ticks = 0;
    auto timer = s.repeat(1.0 / 30.0, [&] { ++ticks; });
    for (int i = 0; i < 3000; ++i) s.advanceBy(1.0 / 30.0);
    EXPECT_EQ(ticks, 3000);
    int minutes = 0;
    auto autosave = s.repeat(60.0, [&] { ++minutes; });
    for (int i = 0; i < 10; ++i) s.advanceBy(60.0);
    EXPECT_EQ(minutes, 10);
    EXPECT_EQ(ticks, 3000 + 18000);
}

// ---- the Qt scheduler on a real event loop (no sleeps: the loop waits for the calls) ----

TEST(QtScheduler, OneShotsRepeatsAndPostsRunOnTheEventLoop) {
    QtScheduler s;
    Log log;
    bool posted = false;
    s.post([&] { posted = true; });
    EXPECT_FALSE(posted);  // never inside the caller
    QCoreApplication::processEvents();
    EXPECT_TRUE(posted);

    auto cancelled = s.singleShot(0.01, [&] { log.push_back("cancelled"); });
    cancelled.reset();
    int ticks = 0;
    std::unique_ptr<RepeatingTimer> timer;
    timer = s.repeat(0.005, [&] {
        if (++ticks == 3) timer.reset();  // ends itself inside its own tick
    });
    auto shot = s.singleShot(0.02, [&] { log.push_back("shot"); });
    spinUntil([&] { return ticks >= 3 && !log.empty(); });
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(log, (Log{"shot"}));

    // Nothing left fires afterwards.
    bool later = false;
    auto last = s.singleShot(0.03, [&] { later = true; });
    spinUntil([&] { return later; });
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(log, (Log{"shot"}));
}

TEST(QtScheduler, PostFromAWorkerThreadRunsOnTheMainThread) {
    QtScheduler s;
    QThread* ranOn = nullptr;
    std::unique_ptr<QThread> worker(QThread::create([&] { s.post([&] { ranOn = QThread::currentThread(); }); }));
    worker->start();
    worker->wait();
    spinUntil([&] { return ranOn != nullptr; });
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
}
