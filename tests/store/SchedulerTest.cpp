#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/ManualScheduler.h"

using namespace tessoral;

TEST(ManualSchedulerTest, AdvanceByFiresDueTimersInTimeOrderThenPostedCalls) {
    ManualScheduler s;
    std::vector<std::string> log;
    auto late = s.singleShot(2.5, [&] { log.push_back("shot 2.5"); });
    auto early = s.singleShot(0.5, [&] { log.push_back("shot 0.5"); });
    auto timer = s.repeat(1.0, [&] { log.push_back("tick"); });
    s.post([&] { log.push_back("posted"); });
    s.advanceBy(3.0);
    EXPECT_EQ(log, (std::vector<std::string>{"shot 0.5", "tick", "tick", "shot 2.5", "tick", "posted"}));
    EXPECT_DOUBLE_EQ(s.now(), 3.0);
    EXPECT_EQ(s.pendingSingleShots(), 0);
}
