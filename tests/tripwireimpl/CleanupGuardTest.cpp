#include "CleanupGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

using halvexconnector::tripwireimpl::CleanupGuard;

namespace {

TEST(CleanupGuard, RunsItsActionOnceWhenDestroyed) {
    int runs = 0;
    {
        CleanupGuard guard([&] { ++runs; });
    }
    EXPECT_EQ(runs, 1);

    { CleanupGuard empty; }
    EXPECT_EQ(runs, 1);
}

TEST(CleanupGuard, RunNowRunsOnceAndLeavesNothingForDestruction) {
    int runs = 0;
    {
        CleanupGuard guard([&] { ++runs; });
        guard.runNow();
        EXPECT_FALSE(guard.holdsAction());
        guard.runNow();
    }
    EXPECT_EQ(runs, 1);
}

TEST(CleanupGuard, RunNowPassesTheFailureOnAndDoesNotRetry) {
    int runs = 0;
    {
        CleanupGuard guard([&] {
            ++runs;
            throw std::runtime_error("still busy");
        });
        EXPECT_THROW(guard.runNow(), std::runtime_error);
        EXPECT_FALSE(guard.holdsAction());
    }
    EXPECT_EQ(runs, 1);
}

TEST(CleanupGuard, DestructionSwallowsTheActionsFailure) {
    int runs = 0;
    EXPECT_NO_THROW({
        CleanupGuard guard([&] {
            ++runs;
            throw 42;
        });
    });
    EXPECT_EQ(runs, 1);
}

TEST(CleanupGuard, AssigningAnActionDropsTheOldOneUnrun) {
    int oldRuns = 0;
    int newRuns = 0;
    {
        CleanupGuard guard([&] { ++oldRuns; });
        guard = [&] {
            ++newRuns;
        };
    }
    EXPECT_EQ(oldRuns, 0);
    EXPECT_EQ(newRuns, 1);
}

TEST(CleanupGuard, MovingTransfersTheActionSoItRunsOnlyOnce) {
    int runs = 0;
    {
        CleanupGuard source([&] { ++runs; });
        CleanupGuard target(std::move(source));
        EXPECT_FALSE(source.holdsAction());
        EXPECT_TRUE(target.holdsAction());
    }
    EXPECT_EQ(runs, 1);

    int assignedRuns = 0;
    int droppedRuns = 0;
    {
        CleanupGuard source([&] { ++assignedRuns; });
        CleanupGuard target([&] { ++droppedRuns; });
        target = std::move(source);
    }
    EXPECT_EQ(assignedRuns, 1);
    EXPECT_EQ(droppedRuns, 0);
}

TEST(CleanupGuard, AVectorOfGuardsRunsEachOnceDespiteReallocation) {
    std::vector<int> order;
    {
        std::vector<CleanupGuard> guards;
        for (int i = 0; i < 20; ++i) {
            guards.emplace_back([&order, i] { order.push_back(i); });
        }
        EXPECT_TRUE(order.empty()) << "growing the vector must not run moved-from guards";
    }
    ASSERT_EQ(order.size(), 20u);
}

TEST(CleanupGuard, AnActionThatReachesItsOwnGuardFindsItEmpty) {
    CleanupGuard guard;
    bool heldDuringRun = true;
    guard = [&] {
        heldDuringRun = guard.holdsAction();
    };
    guard.runNow();
    EXPECT_FALSE(heldDuringRun);
}

} // namespace
