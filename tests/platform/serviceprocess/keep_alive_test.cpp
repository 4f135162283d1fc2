#include "child_watch.h"

#include "halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h"
#include "halvexconnector/serviceprocess/client_lifetime/ServiceProcessKeepAlive.h"

#include <fl/filesystem/path_conversion.h>
#include <foundation/log/testing/RecordCapture.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/stat.h>
#include <vector>

using halvexconnector::serviceprocess::client_lifetime::KeepAlivePolicy;
using halvexconnector::serviceprocess::client_lifetime::ServiceProcessKeepAlive;
using halvexconnector::serviceprocess::client_lifetime::startServiceProcess;
using qbfl_test::eventually;
using qbfl_test::isRunning;
using qbfl_test::isZombieChild;
using qbfl_test::procStat;
using qbfl_test::readFile;
using qbfl_test::TempDir;
using namespace std::chrono_literals;

namespace {

KeepAlivePolicy fastPolicy() {
    KeepAlivePolicy policy;
    policy.firstBackOff = 1ms;
    policy.longestBackOff = 4ms;
    return policy;
}

// A service host stand-in: a shell script that records each start (its pid) and then does
// what `body` says.
class ServiceScript {
public:
    ServiceScript(const TempDir& dir, const std::string& body)
        : script(dir.file("service host.sh")), starts(dir.file("starts")) {
        std::ofstream(script) << "#!/bin/sh\necho $$ >> '" << starts << "'\n" << body << "\n";
        chmod(script.c_str(), 0755);
    }
    ~ServiceScript() {
        for (const pid_t pid : pids()) {
            if (isRunning(pid)) {
                kill(pid, SIGKILL);
            }
            // Let the reaper finish before the test process ends and leaves the child to init.
            eventually([pid] { return !isRunning(pid) && !isZombieChild(pid); }, 5s);
        }
    }
    ServiceScript(const ServiceScript&) = delete;
    ServiceScript& operator=(const ServiceScript&) = delete;

    fl::filesystem::basic_path path() const { return fl::filesystem::path_from_utf8(script); }
    const std::string& text() const { return script; }

    std::vector<pid_t> pids() const {
        std::vector<pid_t> started;
        std::istringstream lines(readFile(starts));
        for (pid_t pid; lines >> pid;) {
            started.push_back(pid);
        }
        return started;
    }
    std::size_t startCount() const { return pids().size(); }

private:
    std::string script;
    std::string starts;
};

bool destroysPromptly(ServiceProcessKeepAlive keepAlive) {
    auto destruction = std::async(std::launch::async,
                                  [doomed = std::move(keepAlive)]() mutable { doomed.reset(); });
    return destruction.wait_for(5s) == std::future_status::ready;
}

} // namespace

TEST(KeepAlive, DefaultConstructedReportsTerminalFailureSoTheFirstStartLaunches) {
    ServiceProcessKeepAlive keepAlive;
    EXPECT_TRUE(keepAlive.hasTerminalFailure());
    EXPECT_EQ(keepAlive.processId(), std::nullopt);
    keepAlive.reset();
    EXPECT_TRUE(keepAlive.hasTerminalFailure());
}

TEST(KeepAlive, MissingOrUnrunnableLauncherIsATerminalFailureNotAnException) {
    TempDir dir;
    const auto missing = fl::filesystem::path_from_utf8(dir.file("absent/launcher"));
    EXPECT_TRUE(startServiceProcess(missing, fastPolicy()).hasTerminalFailure());

    const std::string plain = dir.file("not executable");
    std::ofstream(plain) << "#!/bin/sh\nexit 0\n";
    EXPECT_TRUE(startServiceProcess(fl::filesystem::path_from_utf8(plain), fastPolicy())
                    .hasTerminalFailure());
}

class KeepAliveCrashLoop : public ::testing::TestWithParam<const char*> {};

TEST_P(KeepAliveCrashLoop, SpendsTheBudgetOfFiveStartsThenReportsTerminalFailure) {
    TempDir dir;
    ServiceScript service(dir, GetParam());
    foundation::log::testing::RecordCapture log;
    auto keepAlive = startServiceProcess(service.path(), fastPolicy());
    ASSERT_TRUE(eventually([&] { return keepAlive.hasTerminalFailure(); }));
    EXPECT_EQ(service.startCount(), 5u);
    EXPECT_EQ(log.count_containing("restarting in"), 4u);
    EXPECT_EQ(log.count_containing("restart budget is spent"), 1u);
    EXPECT_EQ(keepAlive.processId(), std::nullopt);
    for (const pid_t pid : service.pids()) {
        EXPECT_TRUE(eventually([pid] { return !isZombieChild(pid); })) << pid;
    }
}

INSTANTIATE_TEST_SUITE_P(AbnormalEnds, KeepAliveCrashLoop,
                         ::testing::Values("exit 3", "kill -KILL $$"), [](const auto& info) {
                             return info.index == 0 ? std::string("ExitCode")
                                                    : std::string("Signal");
                         });

TEST(KeepAlive, RestartsAfterACrashAndSupervisesTheNewProcess) {
    TempDir dir;
    // Crashes on its first start only, then runs until it is killed.
    const std::string crashed = dir.file("crashed");
    ServiceScript service(dir, "[ -e '" + crashed + "' ] && exec sleep 60\n: > '" + crashed +
                                   "'\nexit 3");
    auto keepAlive = startServiceProcess(service.path(), fastPolicy());
    ASSERT_TRUE(eventually([&] { return service.startCount() == 2 && keepAlive.processId(); }));
    const pid_t second = service.pids()[1];
    EXPECT_EQ(keepAlive.processId(), second);
    EXPECT_FALSE(keepAlive.hasTerminalFailure());

    ASSERT_EQ(kill(second, SIGKILL), 0);
    ASSERT_TRUE(eventually([&] { return service.startCount() == 3 && keepAlive.processId(); }));
    EXPECT_FALSE(keepAlive.hasTerminalFailure());
    EXPECT_EQ(keepAlive.processId(), service.pids()[2]);
}

TEST(KeepAlive, ACleanExitIsNotRestartedAndAllowsAFreshStart) {
    TempDir dir;
    ServiceScript service(dir, "exit 0");
    auto keepAlive = startServiceProcess(service.path(), fastPolicy());
    ASSERT_TRUE(eventually([&] { return keepAlive.hasTerminalFailure(); }));
    // The supervision has ended, so no later start can come.
    EXPECT_EQ(service.startCount(), 1u);

    keepAlive = startServiceProcess(service.path(), fastPolicy());
    ASSERT_TRUE(eventually([&] { return keepAlive.hasTerminalFailure(); }));
    EXPECT_EQ(service.startCount(), 2u);
}

TEST(KeepAlive, ResetStopsSupervisingAndLeavesTheDetachedServiceRunning) {
    TempDir dir;
    ServiceScript service(dir, "exec sleep 60");
    auto keepAlive = startServiceProcess(service.path(), fastPolicy());
    ASSERT_TRUE(eventually([&] { return service.startCount() == 1; }));
    const pid_t pid = service.pids()[0];
    EXPECT_EQ(keepAlive.processId(), pid);
    const auto stat = procStat(pid);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->session, pid) << "the service host must be detached";

    keepAlive.reset();
    EXPECT_TRUE(keepAlive.hasTerminalFailure());
    EXPECT_EQ(keepAlive.processId(), std::nullopt);
    EXPECT_TRUE(isRunning(pid));

    // Ended now, it is neither restarted nor left a zombie.
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    EXPECT_TRUE(eventually([pid] { return !isRunning(pid) && !isZombieChild(pid); }));
    EXPECT_EQ(service.startCount(), 1u);
}

TEST(KeepAlive, DestructionIsPromptWhileRunningAndWhilePausing) {
    TempDir dir;
    ServiceScript running(dir, "exec sleep 60");
    auto keepAlive = startServiceProcess(running.path(), fastPolicy());
    ASSERT_TRUE(eventually([&] { return running.startCount() == 1; }));
    EXPECT_TRUE(destroysPromptly(std::move(keepAlive)));
    EXPECT_TRUE(isRunning(running.pids()[0]));

    TempDir otherDir;
    ServiceScript crashing(otherDir, "exit 3");
    KeepAlivePolicy slow;
    slow.firstBackOff = 1h;
    slow.longestBackOff = 1h;
    auto pausing = startServiceProcess(crashing.path(), slow);
    ASSERT_TRUE(eventually([&] { return crashing.startCount() == 1 && !pausing.processId(); }));
    EXPECT_FALSE(pausing.hasTerminalFailure()) << "a pause before a restart is no failure";
    EXPECT_TRUE(destroysPromptly(std::move(pausing)));
    EXPECT_EQ(crashing.startCount(), 1u);
}

TEST(KeepAlive, MoveAssignmentHandsOverTheSupervision) {
    TempDir dir;
    ServiceScript service(dir, "exec sleep 60");
    auto first = startServiceProcess(service.path(), fastPolicy());
    ASSERT_TRUE(eventually([&] { return service.startCount() == 1; }));
    const pid_t pid = service.pids()[0];

    ServiceProcessKeepAlive held;
    held = std::move(first);
    EXPECT_FALSE(held.hasTerminalFailure());
    EXPECT_EQ(held.processId(), pid);

    // Replacing a supervising keep-alive releases it without stopping its process.
    held = ServiceProcessKeepAlive();
    EXPECT_TRUE(held.hasTerminalFailure());
    EXPECT_TRUE(isRunning(pid));
}

TEST(KeepAlive, OnlyStartsWithinTheWindowCountAgainstTheBudget) {
    TempDir dir;
    ServiceScript service(dir, "exit 3");
    KeepAlivePolicy policy = fastPolicy();
    policy.firstBackOff = 5ms;
    policy.longestBackOff = 5ms;
    policy.startsPerWindow = 2;
    policy.startWindow = 1ms; // every earlier start has left the window by the next failure
    auto keepAlive = startServiceProcess(service.path(), policy);
    EXPECT_TRUE(eventually([&] { return service.startCount() >= 8; }));
    EXPECT_FALSE(keepAlive.hasTerminalFailure());
}

TEST(KeepAlive, AnEmptyPathStartsTheLauncherTheLookupReports) {
    TempDir dir;
    ServiceScript service(dir, "exec sleep 60");
    KeepAlivePolicy policy = fastPolicy();
    int lookups = 0;
    policy.launcherLookup = [&] {
        ++lookups;
        return std::optional(service.path());
    };
    auto keepAlive = startServiceProcess({}, policy);
    EXPECT_EQ(lookups, 1);
    ASSERT_TRUE(eventually([&] { return service.startCount() == 1; }));
    EXPECT_FALSE(keepAlive.hasTerminalFailure());

    policy.launcherLookup = [] {
        return std::optional<fl::filesystem::basic_path>();
    };
    EXPECT_TRUE(startServiceProcess({}, policy).hasTerminalFailure());
}

TEST(KeepAlive, AnEmptyPathStartsTheInstalledLauncherByDefault) {
    namespace discovery = halvexconnector::latestversion::installationdiscovery;
    TempDir dir;
    ServiceScript service(dir, "exec sleep 60");
    KeepAlivePolicy policy = fastPolicy();
    const qbfl_test::ScopedVariable dataHome("XDG_DATA_HOME", dir.file("data").c_str());

    // Nothing installed yet: nothing to keep alive.
    EXPECT_TRUE(startServiceProcess({}, policy).hasTerminalFailure());

    const auto root = discovery::discoveryDirectory(discovery::InstallationDiscoveryRoot::STANDARD,
                                                    boost::none, boost::none);
    discovery::writeLatestInstallInfo(
        root, {fl::filesystem::path_from_utf8(dir.path().string()), service.path(), "1.2.3.4"});
    auto keepAlive = startServiceProcess({}, policy);
    ASSERT_TRUE(eventually([&] { return service.startCount() == 1; }));
    EXPECT_EQ(keepAlive.processId(), service.pids()[0]);
}
