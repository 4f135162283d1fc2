#include "HALVEXConnectorTripwireImpl.h"
#include "ModuleTestSupport.h"
#include "TestAccess.h"

#include <agent/control/AgentDiscovery.h>
#include <agent/control/AgentRegistration.h>
#include <fl/i18n/conversion.h>
#include <halvexconnector/serviceprocess/client_lifetime/ServiceProcessKeepAlive.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>
#include <vector>

namespace {

using namespace tripwire_test;
using namespace halvexconnector::tripwire;
using namespace std::chrono_literals;
using halvexconnector::tripwireimpl::HALVEXConnectorTripwireImpl;
using halvexconnector::tripwireimpl::StartPolling;
using Access = halvexconnector::tripwireimpl::HALVEXConnectorTripwireImplTestAccess;
using agent::control::AgentRegistration;
using Clock = std::chrono::steady_clock;

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

class Start : public TempHomeTest {
protected:
    void TearDown() override {
        // No service host outlives its test.
        Access::keepAlive(object).reset();
        for (const auto& agent : agents()) {
            if (agent.pid != 0 && agent.pid != ::getpid()) {
                stopServiceHost(static_cast<pid_t>(agent.pid), standardLockRoot());
            }
        }
        TempHomeTest::TearDown();
    }

    std::vector<agent::control::AgentInfo> agents() const {
        const fl::filesystem::basic_path root(
            fl::i18n::utf8_to_ustring(standardLockRoot().string()), true);
        return agent::control::enumerateAllRunningAgents(root, 3);
    }

    // A launcher that notes each start in "<home>/launches" and then runs the sample host.
    std::filesystem::path countingServiceHost() const {
        return script("launcher", "echo started >> '" + (home() / "launches").string() +
                                      "'\nexec '" + sampleServiceHost().string() + "'");
    }
    std::size_t launches() const { return lines(home() / "launches").size(); }

    // Polling that never wakes by itself within a test: only an agent or deactivation ends it.
    void pollRarely() {
        StartPolling polling;
        polling.shortInterval = 30s;
        polling.longInterval = 30s;
        Access::setPolling(object, polling);
    }

    HALVEXConnectorTripwireImpl object;
    const ITripwire& service = object;
};

TEST_F(Start, NoInstallationStartsNothing) {
    for (HALVEXServicesMode mode : {STANDARD, DRIVE, static_cast<HALVEXServicesMode>(7)}) {
        EXPECT_EQ(service.startHALVEXServices(mode), INSTALL_FAILED);
    }
    EXPECT_TRUE(Access::keepAlive(object).hasTerminalFailure());
    EXPECT_FALSE(std::filesystem::exists(standardLockRoot()));
}

TEST_F(Start, TerminalFailureStartsTheServiceHostOnceAndSeesItsAgent) {
    install(standardStorageRoot(), "2024.7.0.6", countingServiceHost());
    ASSERT_TRUE(Access::keepAlive(object).hasTerminalFailure());

    EXPECT_EQ(service.startHALVEXServices(STANDARD), INSTALLED_AND_STARTED);
    EXPECT_EQ(launches(), 1u);
    ASSERT_EQ(agents().size(), 1u);
    EXPECT_EQ(Access::keepAlive(object).processId(), static_cast<pid_t>(agents()[0].pid));

    // A healthy keep-alive is left alone: the running agent is found at the first poll.
    EXPECT_EQ(service.startHALVEXServices(STANDARD), INSTALLED_AND_STARTED);
    EXPECT_EQ(launches(), 1u);
}

TEST_F(Start, ConcurrentStartsLaunchOneServiceProcess) {
    install(standardStorageRoot(), "2024.7.0.6", countingServiceHost());
    std::vector<std::future<InstallConnectorResult>> calls;
    for (int caller = 0; caller < 4; ++caller) {
        calls.push_back(std::async(std::launch::async,
                                   [this] { return service.startHALVEXServices(STANDARD); }));
    }
    for (auto& call : calls) {
        EXPECT_EQ(call.get(), INSTALLED_AND_STARTED);
    }
    EXPECT_EQ(launches(), 1u);
}

TEST_F(Start, RunningAgentNeedsNoStartAndSendsOneTimingEvent) {
    // A healthy keep-alive that supervises a stand-in process, and an agent already registered.
    const auto standIn = script("stand-in", "exec sleep 30");
    Access::keepAlive(object) =
        halvexconnector::serviceprocess::client_lifetime::startServiceProcess(
            {fl::i18n::utf8_to_ustring(standIn.string()), true});
    ASSERT_FALSE(Access::keepAlive(object).hasTerminalFailure());
    const auto standInPid = Access::keepAlive(object).processId();
    install(standardStorageRoot(), "2024.7.0.6", countingServiceHost());
    AgentRegistration agent(standardLockRoot(), "RodudedOzovizazServiceHost");
    ScopedEnv flags("QB_FEATURE_FLAGS", "QSHTripwireStartupTELX");

    EXPECT_EQ(service.startHALVEXServices(STANDARD), INSTALLED_AND_STARTED);
    EXPECT_EQ(launches(), 0u);
    EXPECT_EQ(Access::keepAlive(object).processId(), standInPid);
    const auto events = lines(home() / "telemetry" / "events.jsonl");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("HX_QSH_STARTUP_TIMING"), std::string::npos);

    Access::keepAlive(object).reset();
    if (standInPid) {
        ::kill(*standInPid, SIGKILL);
    }
}

TEST_F(Start, TimingEventIsSentForAFailedStartToo) {
    ScopedEnv flags("QB_FEATURE_FLAGS", "QSHTripwireStartupTELX");
    object.Deactivate(nullptr);
    EXPECT_FALSE(Access::startServiceHostWithTiming(object));
    EXPECT_EQ(lines(home() / "telemetry" / "events.jsonl").size(), 1u);
}

TEST_F(Start, OtherModesRunTheLauncherDetachedWithoutArguments) {
    const auto arguments = home() / "arguments";
    const auto succeeding = script("ok", "echo $# > '" + arguments.string() + "'\nexit 0");
    install(driveStorageRoot(), "2024.7.0.6", succeeding);
    EXPECT_EQ(service.startHALVEXServices(DRIVE), INSTALLED_AND_STARTED);
    EXPECT_EQ(lines(arguments), std::vector<std::string>{"0"});
    // The drive path never touches the keep-alive.
    EXPECT_TRUE(Access::keepAlive(object).hasTerminalFailure());

    install(driveStorageRoot(), "2024.7.0.6", script("fails", "exit 3"));
    EXPECT_EQ(service.startHALVEXServices(DRIVE), FAILED_TO_START);
    EXPECT_EQ(service.startHALVEXServices(static_cast<HALVEXServicesMode>(5)), FAILED_TO_START);

    install(driveStorageRoot(), "2024.7.0.6", home() / "missing-launcher");
    EXPECT_EQ(service.startHALVEXServices(DRIVE), FAILED_TO_START);
}

TEST_F(Start, GivesUpAfterThePollingLimit) {
    StartPolling polling;
    polling.limit = 300ms;
    polling.shortInterval = 20ms;
    polling.shortPhase = 100ms;
    polling.longInterval = 50ms;
    Access::setPolling(object, polling);
    const auto began = Clock::now();
    EXPECT_FALSE(Access::ensureServiceHostRunning(object));
    EXPECT_GE(Clock::now() - began, 300ms);
}

TEST_F(Start, AgentAppearingLaterIsSeenAtTheNextLongPoll) {
    const auto began = Clock::now();
    std::promise<void> callReturned;
    std::thread registrar([&, returned = callReturned.get_future()] {
        std::this_thread::sleep_until(began + 1500ms);
        AgentRegistration agent(standardLockRoot(), "RodudedOzovizazServiceHost");
        returned.wait_for(5s);
    });
    const bool seen = Access::ensureServiceHostRunning(object);
    const auto waited = Clock::now() - began;
    callReturned.set_value();
    registrar.join();
    EXPECT_TRUE(seen);
    EXPECT_GE(waited, 1500ms);
    // Polls run once a second after the first second: the one at about 2 s sees it.
    EXPECT_LT(waited, 2900ms);
}

TEST_F(Start, DeactivationWakesAWaitingCaller) {
    pollRarely();
    auto call = std::async(std::launch::async, [this] {
        const bool result = Access::ensureServiceHostRunning(object);
        return std::make_pair(result, Clock::now());
    });
    // Let the caller reach its wait; an early deactivation is caught by the flag test anyway.
    std::this_thread::sleep_for(200ms);
    const auto deactivated = Clock::now();
    object.Deactivate(nullptr);
    const auto [result, returned] = call.get();
    EXPECT_FALSE(result);
    EXPECT_LT(returned - deactivated, 50ms);
}

TEST_F(Start, DeactivatedObjectReturnsWithoutWaiting) {
    pollRarely();
    object.Deactivate(nullptr);
    const auto began = Clock::now();
    EXPECT_FALSE(Access::ensureServiceHostRunning(object));
    EXPECT_LT(Clock::now() - began, 5s);

    // An agent that already runs is still reported.
    AgentRegistration agent(standardLockRoot(), "RodudedOzovizazServiceHost");
    EXPECT_TRUE(Access::ensureServiceHostRunning(object));

    // Activated again, polling works as before.
    object.Activate(nullptr);
    EXPECT_TRUE(Access::ensureServiceHostRunning(object));
}

} // namespace
