#include "HALVEXConnectorTripwireImpl.h"
#include "ModuleTestSupport.h"

#include <agent/control/AgentRegistration.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace tripwire_test;
using namespace halvexconnector::tripwire;
using agent::control::AgentRegistration;
using halvexconnector::tripwireimpl::HALVEXConnectorTripwireImpl;

constexpr HALVEXServicesMode otherMode = static_cast<HALVEXServicesMode>(2);

class Queries : public TempHomeTest {
protected:
    HALVEXServicesInstallStatus check(HALVEXServicesMode mode,
                                      const std::uint32_t (&required)[4]) const {
        return service.checkHALVEXServicesInstallation(mode, required);
    }
    bool running(HALVEXServicesMode mode) const { return service.areHALVEXServicesRunning(mode); }

    HALVEXConnectorTripwireImpl object;
    const ITripwire& service = object;
};

// installed version text, required version, expected status (standard mode)
using VersionCase =
    std::tuple<std::string, std::array<std::uint32_t, 4>, HALVEXServicesInstallStatus>;

class VersionTable : public Queries, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTable, ComparesPartByPartAsNumbers) {
    const auto& [installed, required, expected] = GetParam();
    install(standardStorageRoot(), installed, "/opt/host/launcher");
    const std::uint32_t version[4] = {required[0], required[1], required[2], required[3]};
    EXPECT_EQ(check(STANDARD, version), expected) << installed;
}

INSTANTIATE_TEST_SUITE_P(
    Queries, VersionTable,
    ::testing::Values(
        VersionCase{"2024.7.0.6", {2024, 7, 0, 6}, INSTALLED},
        VersionCase{"2024.7.0.6", {2024, 7, 0, 7}, OLDER_THAN_REQUIRED},
        VersionCase{"2024.7.0.6", {2024, 6, 99, 99}, INSTALLED},
        VersionCase{"2024.7.0.6", {2025, 0, 0, 0}, OLDER_THAN_REQUIRED},
        VersionCase{"2024.10.0.1", {2024, 9, 0, 0}, INSTALLED},
        VersionCase{"2024.7", {9999, 0, 0, 0}, INSTALLED},
        VersionCase{"v2024.7.0.6", {9999, 0, 0, 0}, INSTALLED},
        VersionCase{"2024.7.0.6.1", {2024, 7, 0, 6}, INSTALLED},
        VersionCase{"2024.7.0.6.1", {2024, 7, 0, 7}, OLDER_THAN_REQUIRED},
        VersionCase{"2024.7.0.6-beta", {2024, 7, 0, 7}, OLDER_THAN_REQUIRED},
        // Compared as unsigned: the largest part is not mistaken for a negative number.
        VersionCase{"4294967295.0.0.0", {2147483648u, 0, 0, 0}, INSTALLED},
        VersionCase{"1.0.0.0", {4294967295u, 0, 0, 0}, OLDER_THAN_REQUIRED}));

TEST_F(Queries, NoInstallationInAnyMode) {
    const std::uint32_t version[4] = {1, 0, 0, 0};
    EXPECT_EQ(check(STANDARD, version), NOT_INSTALLED);
    EXPECT_EQ(check(DRIVE, version), NOT_INSTALLED);
    EXPECT_EQ(check(otherMode, version), NOT_INSTALLED);
}

TEST_F(Queries, OtherModesLookAtTheDriveRootAndIgnoreTheVersion) {
    install(driveStorageRoot(), "2020.1.0.0", "/opt/drive/launcher");
    const std::uint32_t version[4] = {2024, 7, 0, 6};
    EXPECT_EQ(check(DRIVE, version), INSTALLED);
    EXPECT_EQ(check(otherMode, version), INSTALLED);
    EXPECT_EQ(check(STANDARD, version), NOT_INSTALLED);
}

TEST_F(Queries, FirstOverrideMovesTheDiscoveryRoot) {
    RunningFramework framework;
    const auto moved = home() / "moved";
    registerOverride(framework, std::make_shared<FixedOverride>(moved.string(), ""));
    install(moved, "2024.7.0.6", "/opt/host/launcher");
    const std::uint32_t version[4] = {2024, 7, 0, 7};
    EXPECT_EQ(check(STANDARD, version), OLDER_THAN_REQUIRED);
}

TEST_F(Queries, CheckPassesLookupFailuresOn) {
    RunningFramework framework;
    registerOverride(framework, std::make_shared<FixedOverride>("", "", true));
    const std::uint32_t version[4] = {1, 0, 0, 0};
    EXPECT_THROW(check(STANDARD, version), std::runtime_error);
    EXPECT_THROW(check(DRIVE, version), std::runtime_error);
}

TEST_F(Queries, RunningSeesAnAgentOnlyUnderItsModesLockRoot) {
    EXPECT_FALSE(running(STANDARD));
    {
        AgentRegistration agent(standardLockRoot(), "RodudedOzovizazServiceHost");
        EXPECT_TRUE(running(STANDARD));
        EXPECT_FALSE(running(DRIVE));
        // Modes outside the enumeration ask under an empty lock root.
        EXPECT_FALSE(running(otherMode));
    }
    // The lock file stays behind, but nobody holds it.
    EXPECT_FALSE(running(STANDARD));

    AgentRegistration driveAgent(driveLockRoot(), "DriveAgent");
    EXPECT_TRUE(running(DRIVE));
    EXPECT_FALSE(running(STANDARD));
}

TEST_F(Queries, RunningFollowsTheOverrides) {
    RunningFramework framework;
    const auto storage = home() / "storage";
    const auto locks = home() / "locks";
    auto registration =
        registerOverride(framework, std::make_shared<FixedOverride>(storage.string(), ""));

    AgentRegistration underStorage(storage / "locks", "RodudedOzovizazServiceHost");
    EXPECT_TRUE(running(STANDARD));
    EXPECT_TRUE(running(DRIVE));
    underStorage.release();

    // The second override names the lock root itself.
    registration.Unregister();
    registerOverride(framework, std::make_shared<FixedOverride>("", locks.string()));
    AgentRegistration underLocks(locks, "RodudedOzovizazServiceHost");
    EXPECT_TRUE(running(STANDARD));
    EXPECT_TRUE(running(DRIVE));
}

TEST_F(Queries, RunningAnswersFalseWhenItCannotAsk) {
    AgentRegistration agent(standardLockRoot(), "RodudedOzovizazServiceHost");
    RunningFramework framework;
    registerOverride(framework, std::make_shared<FixedOverride>("", "", true));
    EXPECT_FALSE(running(STANDARD));
    EXPECT_FALSE(running(DRIVE));
}

TEST_F(Queries, ConcurrentQueriesWhileAgentsAndOverridesComeAndGo) {
    RunningFramework framework;
    install(standardStorageRoot(), "2024.7.0.6", "/opt/host/launcher");
    std::atomic<bool> done{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 8; ++caller) {
        callers.emplace_back([&] {
            const std::uint32_t version[4] = {2024, 7, 0, 6};
            while (!done) {
                running(STANDARD);
                // The override below points where the same installation is described.
                if (check(STANDARD, version) != INSTALLED) {
                    ++unexpected;
                }
            }
        });
    }
    for (int round = 0; round < 50; ++round) {
        AgentRegistration agent(standardLockRoot(), "RodudedOzovizazServiceHost");
        auto registration = registerOverride(
            framework, std::make_shared<FixedOverride>(standardStorageRoot().string(), ""));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        registration.Unregister();
    }
    done = true;
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(unexpected, 0);
    EXPECT_FALSE(running(STANDARD));
}

} // namespace
