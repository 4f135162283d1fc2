#include "RestartBudget.h"
#include "halvexconnector/serviceprocess/client_lifetime/ServiceProcessKeepAlive.h"

#include <csignal>
#include <fl/filesystem/path_conversion.h>
#include <foundation/log/testing/RecordCapture.h>
#include <future>
#include <gtest/gtest.h>
#include <tripwire/testsupport/ChildProcess.h>
#include <tripwire/testsupport/TempDirectory.h>

using halvexconnector::serviceprocess::client_lifetime::KeepAlivePolicy;
using halvexconnector::serviceprocess::client_lifetime::ServiceProcessKeepAlive;
using halvexconnector::serviceprocess::client_lifetime::startServiceProcess;
using halvexconnector::serviceprocess::client_lifetime::detail::RestartBudget;
using namespace tripwire::testsupport;
using namespace std::chrono_literals;

namespace {

KeepAlivePolicy policy(std::chrono::milliseconds backOff = 1ms) {
    KeepAlivePolicy result;
    result.firstBackOff = backOff;
    result.longestBackOff = backOff * 4;
    return result;
}

// A service host stand-in recording each start (its pid); what it started is ended at the end.
struct ServiceScript {
    TempDirectory dir;
    std::filesystem::path script = dir / "service host.sh";
    explicit ServiceScript(const std::string& body) {
        writeScript(script, "echo $$ >> '" + (dir / "starts").string() + "'\n" + body);
    }
    ~ServiceScript() {
        for (const pid_t pid : pids()) {
            ::kill(pid, SIGKILL);
            eventually([pid] { return !isRunning(pid) && !isZombieChild(pid); }, 5s);
        }
    }
    fl::filesystem::basic_path path() const { return fl::filesystem::path_from_native(script); }
    std::vector<pid_t> pids() const {
        std::vector<pid_t> started;
        std::istringstream lines(readFile(dir / "starts"));
        for (pid_t pid; lines >> pid;)
            started.push_back(pid);
        return started;
    }
    std::size_t starts() const { return pids().size(); }
};

TEST(KeepAliveRestartBudget, FiveStartsAMinuteEndItUntilTheFirstLeavesTheWindow) {
    const RestartBudget::Clock::time_point t0{};
    RestartBudget budget{policy(100ms)};
    for (const auto start : {0s, 1s, 2s, 3s, 4s})
        budget.recordStart(t0 + start);
    EXPECT_EQ(budget.pauseAfterFailure(t0 + 59s), std::nullopt) << "five starts within a minute";
    EXPECT_TRUE(budget.pauseAfterFailure(t0 + 60s)) << "the first start left the window";
    budget.recordStart(t0 + 61s);
    EXPECT_EQ(budget.pauseAfterFailure(t0 + 61s + 61s), 100ms) << "a long healthy run resets";
}

// An empty path starts what the installation names (the service object's tests start it so).
TEST(KeepAlive, UnstartableLaunchersFailAtOnceCrashesSpendTheBudgetExitAndResetEndIt) {
    TempDirectory dir;
    writeFile(dir / "not executable", "#!/bin/sh\nexit 0\n");
    EXPECT_TRUE(ServiceProcessKeepAlive().hasTerminalFailure());
    for (const char* name : {"absent/launcher", "not executable"})
        EXPECT_TRUE(startServiceProcess(fl::filesystem::path_from_native(dir / name), policy())
                        .hasTerminalFailure())
            << name;
    const ScopedVariable dataHome("XDG_DATA_HOME", (dir / "data").string());
    EXPECT_TRUE(startServiceProcess({}, policy()).hasTerminalFailure()) << "nothing installed";
    ServiceScript failing("kill -KILL $$");
    foundation::log::testing::RecordCapture log;
    auto spent = startServiceProcess(failing.path(), policy());
    ASSERT_TRUE(eventually([&] { return spent.hasTerminalFailure(); }));
    EXPECT_EQ(failing.starts(), 5u);
    for (const auto& [pause, times] : {std::pair{"in 1 ms", 1u}, {"in 2 ms", 1u}, {"in 4 ms", 2u}})
        EXPECT_EQ(log.count_containing("restarting " + std::string(pause)), times) << pause;
    EXPECT_EQ(log.count_containing("restart budget is spent"), 1u);
    for (const pid_t pid : failing.pids())
        EXPECT_TRUE(eventually([pid] { return !isZombieChild(pid); })) << pid;
    ServiceScript clean("exit 0");
    auto ended = startServiceProcess(clean.path(), policy());
    ASSERT_TRUE(eventually([&] { return ended.hasTerminalFailure(); }));
    EXPECT_EQ(clean.starts(), 1u) << "a clean exit is not restarted";
    // A reset ends the supervision only. (Restarts after a crash are the host program's tests'.)
    ServiceScript service("exec sleep 60");
    auto keepAlive = startServiceProcess(service.path(), policy());
    ASSERT_TRUE(eventually([&] { return service.starts() == 1 && keepAlive.processId(); }));
    const pid_t pid = *keepAlive.processId();
    EXPECT_EQ(procStat(pid)->session, pid) << "the service host must be detached";
    keepAlive.reset();
    EXPECT_TRUE(keepAlive.hasTerminalFailure());
    EXPECT_EQ(keepAlive.processId(), std::nullopt);
    EXPECT_TRUE(isRunning(pid));
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(eventually([pid] { return !isRunning(pid) && !isZombieChild(pid); }));
    EXPECT_EQ(service.starts(), 1u) << "not restarted once it ends";
    ServiceScript crashing("exit 3");
    auto pausing = startServiceProcess(crashing.path(), policy(1h));
    ASSERT_TRUE(eventually([&] { return crashing.starts() == 1 && !pausing.processId(); }));
    EXPECT_FALSE(pausing.hasTerminalFailure()) << "a pause before a restart is no failure";
    auto destruction =
        std::async(std::launch::async, [doomed = std::move(pausing)]() mutable { doomed.reset(); });
    EXPECT_EQ(destruction.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(crashing.starts(), 1u);
}

} // namespace
