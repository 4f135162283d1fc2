// The service object and its collaborators: the service lookups, the two queries, the service
// host starter with its polling, and the removal of working directories now or at the end.
#include "DeferredRemovals.h"
#include "HALVEXConnectorTripwireImpl.h"
#include "ServiceHostStarter.h"
#include "ServiceLookup.h"

#include <agent/control/AgentRegistration.h>
#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>
#include <foundation/log/testing/RecordCapture.h>

#include <tripwire/testsupport/FakeServices.h>
#include <tripwire/testsupport/ModuleHome.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <future>
#include <thread>

namespace halvexconnector::tripwireimpl {
namespace {

namespace fs = std::filesystem;
using namespace halvexconnector::tripwire;
using namespace std::chrono_literals;
using namespace ::tripwire::testsupport;
using agent::control::AgentRegistration;
using agent::spf::externalprocessdiscovery::UserStorageRootOverride;
using Clock = std::chrono::steady_clock;
using foundation::log::testing::RecordCapture;

constexpr HALVEXServicesMode otherMode = static_cast<HALVEXServicesMode>(2);
const std::string serviceHostAgent = "RodudedOzovizazServiceHost";

std::string text(const boost::optional<fl::filesystem::basic_path>& path) {
    return path ? fl::i18n::ustring_to_utf8(path->string()) : "<none>";
}

TEST(ServiceLookup, OverridesComeFromTheFirstRegisteredServiceAskedAnewEachTime) {
    EXPECT_EQ(text(getFirstFolderOverride()), "<none>") << "no framework";
    EXPECT_EQ(text(getSecondFolderOverride()), "<none>");
    RunningFramework framework;
    EXPECT_EQ(text(getFolderOverrides().second), "<none>");
    auto first =
        framework.offer<UserStorageRootOverride>(std::make_shared<FixedOverride>("", "/second"));
    framework.offer<UserStorageRootOverride>(std::make_shared<FixedOverride>("/b", "/b2"));
    EXPECT_EQ(text(getFirstFolderOverride()), "<none>") << "an empty path is no override";
    EXPECT_EQ(text(getFolderOverrides().second), "/second");
    first.Unregister();
    EXPECT_EQ(text(getFirstFolderOverride()), "/b");
    EXPECT_EQ(text(getSecondFolderOverride()), "/b2");
}

class ServiceObject : public testing::Test {
protected:
    ServiceObject() { home.set("QB_FEATURE_FLAGS", std::nullopt); }
    void TearDown() override {
        object.Deactivate(nullptr); // ends the keep-alive's supervision first
        home.stopAgents();
    }
    // A launcher that notes each start in "<home>/launches", then runs the sample service host.
    fs::path countingServiceHost() const {
        return writeScript(home / "launcher",
                           "echo started >> '" + (home / "launches").string() + "'\nexec '" +
                               staged::sample("QuillbeckServiceHost").string() + "'");
    }
    std::size_t launches() const {
        const std::string started = readFile(home / "launches");
        return static_cast<std::size_t>(std::count(started.begin(), started.end(), '\n'));
    }

    ModuleHome home;
    HALVEXConnectorTripwireImpl object;
    const ITripwire& service = object;
};

TEST_F(ServiceObject, InstalledVersionsCompareWithTheRequiredPartByPartAsUnsignedNumbers) {
    constexpr auto ok = INSTALLED, old = OLDER_THAN_REQUIRED;
    const struct {
        const char* installed;
        std::uint32_t required[4];
        HALVEXServicesInstallStatus expected;
    } cases[] = {
        // clang-format off
        {"2024.7.0.6", {2024, 7, 0, 6}, ok}, {"2024.7.0.6", {2024, 7, 0, 7}, old},
        {"2024.7.0.6", {2024, 6, 99, 99}, ok}, {"2024.7.0.6", {2025, 0, 0, 0}, old},
        {"2024.10.0.1", {2024, 9, 0, 0}, ok}, {"2024.7", {9999, 0, 0, 0}, ok},
        {"v2024.7.0.6", {9999, 0, 0, 0}, ok}, {"2024.7.0.6-beta", {2024, 7, 0, 7}, old},
        {"4294967295.0.0.0", {2147483648u, 0, 0, 0}, ok}, {"1.0.0.0", {4294967295u, 0, 0, 0}, old},
        // clang-format on
    };
    for (const auto& c : cases) {
        describeInstallation(home.storageRoot(), c.installed, "/opt/host/launcher");
        EXPECT_EQ(service.checkHALVEXServicesInstallation(STANDARD, c.required), c.expected)
            << c.installed;
    }
}

TEST_F(ServiceObject, QueriesLookUnderTheirModesRootsAndFollowTheOverrides) {
    const std::uint32_t version[4] = {2024, 7, 0, 6};
    EXPECT_EQ(service.checkHALVEXServicesInstallation(STANDARD, version), NOT_INSTALLED);
    describeInstallation(home.driveRoot(), "2020.1.0.0", "/opt/drive/launcher");
    EXPECT_EQ(service.checkHALVEXServicesInstallation(STANDARD, version), NOT_INSTALLED);
    for (const HALVEXServicesMode mode : {DRIVE, otherMode}) {
        EXPECT_EQ(service.checkHALVEXServicesInstallation(mode, version), INSTALLED)
            << "the drive root, whatever the version";
    }
    {
        AgentRegistration agent(home.lockRoot(), serviceHostAgent);
        EXPECT_TRUE(service.areHALVEXServicesRunning(STANDARD));
        EXPECT_FALSE(service.areHALVEXServicesRunning(DRIVE));
        EXPECT_FALSE(service.areHALVEXServicesRunning(otherMode)) << "an empty lock root";
    }
    EXPECT_FALSE(service.areHALVEXServicesRunning(STANDARD)) << "a lock file nobody holds";
    AgentRegistration driveAgent(home.driveRoot() / "locks", "DriveAgent");
    EXPECT_TRUE(service.areHALVEXServicesRunning(DRIVE));

    RunningFramework framework;
    auto moved = framework.offer<UserStorageRootOverride>(
        std::make_shared<FixedOverride>((home / "moved").string(), ""));
    describeInstallation(home / "moved", "2024.7.0.5", "/opt/host/launcher");
    EXPECT_EQ(service.checkHALVEXServicesInstallation(STANDARD, version), OLDER_THAN_REQUIRED);
    AgentRegistration underMoved(home / "moved/locks", serviceHostAgent);
    EXPECT_TRUE(service.areHALVEXServicesRunning(STANDARD));
    EXPECT_TRUE(service.areHALVEXServicesRunning(DRIVE)) << "one override for both modes";
    underMoved.release();
    moved.Unregister();
    auto locks = framework.offer<UserStorageRootOverride>(
        std::make_shared<FixedOverride>("", (home / "locks").string()));
    AgentRegistration underLocks(home / "locks", serviceHostAgent);
    EXPECT_TRUE(service.areHALVEXServicesRunning(STANDARD)) << "the second names the lock root";
    locks.Unregister();
    framework.offer<UserStorageRootOverride>(std::make_shared<FixedOverride>("", "", true));
    EXPECT_THROW(service.checkHALVEXServicesInstallation(DRIVE, version), std::runtime_error);
    EXPECT_FALSE(service.areHALVEXServicesRunning(DRIVE)) << "cannot ask: not running";
}

// Overrides withdrawn while queries list and obtain them must never fail a query.
TEST_F(ServiceObject, ConcurrentQueriesWhileAgentsAndOverridesComeAndGo) {
    RunningFramework framework;
    describeInstallation(home.storageRoot(), "2024.7.0.6", "/opt/host/launcher");
    std::atomic<bool> done{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 8; ++caller) {
        callers.emplace_back([&] {
            const std::uint32_t version[4] = {2024, 7, 0, 6};
            while (!done) {
                service.areHALVEXServicesRunning(STANDARD);
                unexpected +=
                    service.checkHALVEXServicesInstallation(STANDARD, version) != INSTALLED;
            }
        });
    }
    for (int round = 0; round < 50; ++round) {
        AgentRegistration agent(home.lockRoot(), serviceHostAgent);
        auto registration = framework.offer<UserStorageRootOverride>(
            std::make_shared<FixedOverride>(home.storageRoot().string(), ""));
        std::this_thread::sleep_for(2ms);
        registration.Unregister();
    }
    done = true;
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(unexpected, 0);
}

TEST_F(ServiceObject, AStartLaunchesTheServiceHostOnceForConcurrentCallersAndThenLeavesItAlone) {
    for (HALVEXServicesMode mode : {STANDARD, DRIVE, otherMode}) {
        EXPECT_EQ(service.startHALVEXServices(mode), INSTALL_FAILED) << "no installation";
    }
    EXPECT_FALSE(fs::exists(home.lockRoot()));
    describeInstallation(home.storageRoot(), "2024.7.0.6", countingServiceHost());
    std::vector<std::future<InstallConnectorResult>> calls;
    for (int caller = 0; caller < 4; ++caller) {
        calls.push_back(std::async(std::launch::async,
                                   [this] { return service.startHALVEXServices(STANDARD); }));
    }
    for (auto& call : calls) {
        EXPECT_EQ(call.get(), INSTALLED_AND_STARTED);
    }
    EXPECT_EQ(service.startHALVEXServices(STANDARD), INSTALLED_AND_STARTED);
    EXPECT_EQ(launches(), 1u);
    EXPECT_TRUE(home.agentRunning());
    EXPECT_TRUE(home.events("HX_QSH_STARTUP_TIMING").empty()) << "the flag is off";
}

TEST_F(ServiceObject, OtherModesRunTheLauncherDetachedWithoutArguments) {
    const fs::path arguments = home / "arguments";
    describeInstallation(home.storageRoot(), "1.0.0.0", countingServiceHost());
    describeInstallation(home.driveRoot(), "1.0.0.0",
                         writeScript(home / "ok", "echo $# > '" + arguments.string() + "'"));
    EXPECT_EQ(service.startHALVEXServices(DRIVE), INSTALLED_AND_STARTED);
    EXPECT_EQ(readFile(arguments), "0\n");
    EXPECT_EQ(launches(), 0u) << "no keep-alive in the drive";
    for (const fs::path& launcher : {writeScript(home / "fails", "exit 3"), home / "missing"}) {
        describeInstallation(home.driveRoot(), "1.0.0.0", launcher);
        EXPECT_EQ(service.startHALVEXServices(DRIVE), FAILED_TO_START) << launcher;
        EXPECT_EQ(service.startHALVEXServices(static_cast<HALVEXServicesMode>(5)), FAILED_TO_START);
    }
}

TEST_F(ServiceObject, PollingEndsAtTheLimitAtAnAgentOrAtDeactivationAndTimesEachStart) {
    home.set("QB_FEATURE_FLAGS", "QSHTripwireStartupTELX");
    ServiceHostStarter quick({300ms, 20ms, 100ms, 20ms});
    auto began = Clock::now();
    EXPECT_FALSE(quick.startServiceHostWithTiming());
    EXPECT_GE(Clock::now() - began, 300ms);
    EXPECT_EQ(home.events("HX_QSH_STARTUP_TIMING").size(), 1u) << "a failed start is timed too";

    ServiceHostStarter slow({30s, 30s, 100ms, 30s});
    auto call = std::async(std::launch::async, [&slow] {
        const bool result = slow.ensureServiceHostRunning();
        return std::make_pair(result, Clock::now());
    });
    std::this_thread::sleep_for(200ms);
    const auto deactivated = Clock::now();
    slow.deactivate();
    const auto [result, returned] = call.get();
    EXPECT_FALSE(result);
    EXPECT_LT(returned - deactivated, 10s) << "woken, not at the end of its 30 s wait";
    began = Clock::now();
    EXPECT_FALSE(slow.ensureServiceHostRunning());
    EXPECT_LT(Clock::now() - began, 5s) << "a deactivated starter does not wait";
    AgentRegistration agent(home.lockRoot(), serviceHostAgent);
    EXPECT_TRUE(slow.ensureServiceHostRunning()) << "a running agent is still seen";
    slow.activate();
    EXPECT_TRUE(slow.startServiceHostWithTiming());
    EXPECT_EQ(home.events("HX_QSH_STARTUP_TIMING").size(), 2u);
}

class Removal : public ServiceObject {
protected:
    ~Removal() override {
        for (const fs::path& file : pinned) {
            pin(file, false);
        }
    }
    // A working directory holding a pinned file; empty when nothing can be pinned here.
    fs::path pinnedDirectory(const std::string& name) {
        const fs::path busy = home / name / "sub/busy";
        fs::create_directories(busy.parent_path());
        std::ofstream(busy) << "busy";
        if (!pin(busy)) {
            return {};
        }
        pinned.push_back(busy);
        return home / name;
    }
    void removeOrQueue(DeferredRemovals& removals, const fs::path& directory) {
        removals.removeNowOrQueue(fl::filesystem::path_from_native(directory));
    }
    std::size_t logged(const std::string& prefix) const { return capture.count_containing(prefix); }

    std::vector<fs::path> pinned;
    RecordCapture capture;
    const std::string failedNow = "Roduded Ozovizaz install failed to remove temp directory.\n";
    const std::string failedAtEnd =
        "Roduded Ozovizaz removal of temp directory at shutdown failed.\n";
};

TEST_F(Removal, FailuresAreLoggedQueuedAlsoConcurrentlyAndRetriedInQueueOrderAtTheEnd) {
    auto removals = std::make_unique<DeferredRemovals>();
    fs::create_directories(home / "free/sub");
    removeOrQueue(*removals, home / "free");
    removeOrQueue(*removals, home / "never made");
    EXPECT_FALSE(fs::exists(home / "free"));
    EXPECT_EQ(capture.records().size(), 0u);
    // Queued out of alphabetical order, so that no listing order passes for queue order.
    for (const char* name : {"charlie", "alpha", "bravo", "delta", "bravo"}) {
        if (pinnedDirectory(name).empty()) {
            GTEST_SKIP() << "this file system cannot pin files";
        }
        removeOrQueue(*removals, home / name);
        EXPECT_TRUE(fs::exists(home / name / "sub/busy"));
    }
    std::vector<std::thread> workers; // concurrent failures are all queued
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                removeOrQueue(*removals, home / "bravo");
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(logged(failedNow + "Exception caught: "), 25u);
    EXPECT_NE(capture.records()[0].message.find("busy"), std::string::npos);
    pin(home / "bravo/sub/busy", false);
    ::chmod((home / "bravo/sub").c_str(), 0);
    capture.clear();
    removals.reset();
    EXPECT_FALSE(fs::exists(home / "bravo")) << "released, and removed despite its mode";
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 3u) << "bravo 22 times: removed once, nothing logged for it";
    const char* failedInOrder[] = {"charlie", "alpha", "delta"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].message.rfind(failedAtEnd + "Left in place: ", 0), 0u);
        EXPECT_NE(records[i].message.find("/" + std::string(failedInOrder[i]) + "/"),
                  std::string::npos)
            << records[i].message;
    }
}

} // namespace
} // namespace halvexconnector::tripwireimpl
