// terminate_children is one-way for the whole process, so every case runs in a process of its
// own (a death-test child) and reports through its exit code.
#include "child_watch.h"

#include "foundation/core/process/process.h"
#include "foundation/core/process/terminate_children.h"

#include <gtest/gtest.h>

#include <tripwire/testsupport/InOwnProcess.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fcp = foundation::core::process;
using namespace std::chrono_literals;
using qbfl_test::eventually;
using qbfl_test::isRunning;
using qbfl_test::TempDir;

namespace {

using tripwire::testsupport::inOwnProcess;

constexpr std::uint32_t endedByTerm = 128 + SIGTERM;
constexpr std::uint32_t endedByKill = 128 + SIGKILL;

fcp::process sleeper(bool detached = false) {
    fcp::context ctx;
    ctx.detached_process(detached);
    return fcp::process(fcp::command("/bin/sleep", {"60"}), ctx);
}

// A child that ignores SIGTERM; returns once the disposition is in place.
fcp::process termIgnorer(const TempDir& dir) {
    const std::string ready = dir.file("ready");
    fcp::process child(
        fcp::command("/bin/sh", {"-c", "trap '' TERM; : > \"$1\"; exec sleep 60", "sh", ready}),
        fcp::context());
    if (!eventually([&] { return std::filesystem::exists(ready); })) {
        throw std::runtime_error("the child never got ready");
    }
    return child;
}

TEST(QbflTerminateChildren, EndsAttachedChildrenAndKillsOneThatIgnoresTerm) {
    inOwnProcess([] {
        TempDir dir;
        fcp::process polite = sleeper();
        fcp::process stubborn = termIgnorer(dir);
        // A waiter already blocked in exit_status is released with the signal's code, as the
        // installer run of an install attempt is.
        std::atomic<std::uint32_t> seenByWaiter{0};
        std::thread waiter([&] { seenByWaiter = polite.exit_status(); });

        fcp::terminate_children(200ms);

        EXPECT_FALSE(isRunning(stubborn.pid())) << "ended before the call returned";
        waiter.join();
        EXPECT_EQ(seenByWaiter.load(), endedByTerm);
        EXPECT_EQ(stubborn.exit_status(), endedByKill);
    });
}

TEST(QbflTerminateChildren, RefusesAttachedLaunchesAfterwardsButNotDetachedOnes) {
    inOwnProcess([] {
        fcp::terminate_children();
        try {
            sleeper();
            ADD_FAILURE() << "an attached launch after terminate_children succeeded";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("/bin/sleep"), std::string::npos)
                << error.what();
            EXPECT_NE(std::string(error.what()).find("shutting down"), std::string::npos)
                << error.what();
        }
        fcp::process detached = sleeper(true);
        EXPECT_TRUE(isRunning(detached.pid()));
        ::kill(detached.pid(), SIGKILL);
        EXPECT_EQ(detached.exit_status(), endedByKill);
        fcp::terminate_children(); // a second call finds nothing to do
    });
}

TEST(QbflTerminateChildren, LeavesDetachedChildrenRunning) {
    inOwnProcess([] {
        fcp::process serviceHost = sleeper(true);
        fcp::process installer = sleeper();
        fcp::terminate_children(100ms);
        EXPECT_EQ(installer.exit_status(), endedByTerm);
        EXPECT_TRUE(isRunning(serviceHost.pid()));
        EXPECT_FALSE(serviceHost.try_exit_status().has_value());
        ::kill(serviceHost.pid(), SIGKILL);
        EXPECT_EQ(serviceHost.exit_status(), endedByKill);
    });
}

TEST(QbflTerminateChildren, ReachesChildrenWhoseObjectsAreGone) {
    inOwnProcess([] {
        pid_t orphan = -1;
        {
            fcp::process dropped = sleeper();
            orphan = dropped.pid();
        } // handed to the reaper, still running and still ours to end
        fcp::terminate_children(100ms);
        EXPECT_TRUE(eventually([&] { return !qbfl_test::procStat(orphan).has_value(); }))
            << "the reaper collects it once it has ended";
    });
}

TEST(QbflTerminateChildren, NoLaunchRacingTheCallEscapesIt) {
    inOwnProcess([] {
        std::atomic<int> refused{0};
        std::vector<std::thread> launchers;
        std::vector<std::vector<fcp::process>> launched(4);
        for (auto& mine : launched) {
            launchers.emplace_back([&refused, &mine] {
                while (true) {
                    try {
                        mine.push_back(sleeper());
                    } catch (const std::runtime_error&) {
                        ++refused;
                        return;
                    }
                }
            });
        }
        std::this_thread::sleep_for(50ms);
        fcp::terminate_children(500ms);
        for (auto& thread : launchers) {
            thread.join();
        }
        EXPECT_EQ(refused.load(), 4) << "every launcher ran into the refusal";
        // Each child launched before the refusal was signalled, none slipped past.
        std::size_t total = 0;
        for (auto& mine : launched) {
            for (auto& child : mine) {
                EXPECT_EQ(child.exit_status(), endedByTerm);
                ++total;
            }
        }
        EXPECT_GT(total, 0u);
    });
}

} // namespace
