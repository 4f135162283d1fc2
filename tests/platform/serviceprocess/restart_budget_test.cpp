#include "RestartBudget.h"

#include <gtest/gtest.h>

using halvexconnector::serviceprocess::client_lifetime::KeepAlivePolicy;
using halvexconnector::serviceprocess::client_lifetime::detail::RestartBudget;
using namespace std::chrono_literals;

namespace {

const RestartBudget::Clock::time_point t0{};

} // namespace

TEST(KeepAliveRestartBudget, PausesDoubleAndTheFifthFailureInAMinuteEndsIt) {
    RestartBudget budget{KeepAlivePolicy{}};
    budget.recordStart(t0);
    auto now = t0;
    for (const auto expected : {100ms, 200ms, 400ms, 800ms}) {
        now += 1s;
        EXPECT_EQ(budget.pauseAfterFailure(now), expected);
        now += expected;
        budget.recordStart(now);
    }
    now += 1s;
    EXPECT_EQ(budget.pauseAfterFailure(now), std::nullopt) << "five starts within a minute";
}

TEST(KeepAliveRestartBudget, PausesStopGrowingAtTheLongest) {
    KeepAlivePolicy policy;
    policy.startsPerWindow = 100;
    RestartBudget budget{policy};
    budget.recordStart(t0);
    std::chrono::milliseconds last{};
    auto now = t0;
    for (int i = 0; i < 12; ++i) {
        now += 10ms;
        last = budget.pauseAfterFailure(now).value();
        budget.recordStart(now + last);
        now += last;
    }
    EXPECT_EQ(last, 10s);
}

TEST(KeepAliveRestartBudget, OnlyStartsWithinTheWindowCount) {
    RestartBudget budget{KeepAlivePolicy{}};
    auto now = t0;
    budget.recordStart(now);
    // Four quick failures and restarts: the budget is one start short of spent.
    for (int i = 0; i < 4; ++i) {
        now += 1s;
        ASSERT_TRUE(budget.pauseAfterFailure(now));
        budget.recordStart(now);
    }
    EXPECT_FALSE(budget.pauseAfterFailure(t0 + 59s));
    // Once the first start is a full minute old it no longer counts.
    EXPECT_TRUE(budget.pauseAfterFailure(t0 + 60s));
}

TEST(KeepAliveRestartBudget, ALongHealthyRunStartsThePausesOver) {
    RestartBudget budget{KeepAlivePolicy{}};
    budget.recordStart(t0);
    EXPECT_EQ(budget.pauseAfterFailure(t0 + 1s), 100ms);
    budget.recordStart(t0 + 2s);
    EXPECT_EQ(budget.pauseAfterFailure(t0 + 3s), 200ms);
    budget.recordStart(t0 + 4s);
    EXPECT_EQ(budget.pauseAfterFailure(t0 + 4s + 61s), 100ms);
}
