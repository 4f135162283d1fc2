#include "HALVEXConnectorTripwireImpl.h"
#include "ServiceLookup.h"
#include "install/StageAnnouncement.h"
#include "telemetry/StartupTimingEvent.h"

#include <agent/control/AgentDiscovery.h>
#include <fl/i18n/conversion.h>
#include <foundation/core/process/command.h>
#include <foundation/core/process/context.h>
#include <foundation/core/process/process.h>
#include <halvexconnector/folderlocations/FolderLocations.h>
#include <halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h>
#include <halvexconnector/serviceprocess/client_lifetime/ServiceProcessKeepAlive.h>
#include <telx/util/DateTime.h>

#include <chrono>

namespace halvexconnector::tripwireimpl {

namespace {

using FolderOverride = boost::optional<fl::filesystem::basic_path>;
namespace discovery = halvexconnector::latestversion::installationdiscovery;
namespace process = foundation::core::process;

// Every running agent under a lock root, whoever runs it.
constexpr unsigned kEveryRunningAgent = 3;

boost::optional<fl::ustring> overrideText(const FolderOverride& folder) {
    if (!folder) {
        return boost::none;
    }
    return folder->string();
}

fl::filesystem::basic_path standardLockRoot() {
    const auto [first, second] = getFolderOverrides();
    return folderlocations::FolderLocations(overrideText(first), overrideText(second)).lockRoot();
}

bool anyAgentRunning(const fl::filesystem::basic_path& lockRoot) {
    try {
        return agent::control::isAnyAgentRunning(lockRoot, kEveryRunningAgent);
    } catch (...) {
        // The registry may be unreadable for a moment; the next poll asks again.
        return false;
    }
}

// Runs the drive-mode launcher, which brings its service host up and reports by exit status.
tripwire::InstallConnectorResult runLauncher(const fl::filesystem::basic_path& launcher) {
    const std::string path = fl::i18n::ustring_to_utf8(launcher.string());
    try {
        const process::command command(path);
        process::context context;
        context.detached_process(true);
        process::process launched(command, context);
        if (const std::uint32_t status = launched.exit_status(); status != 0) {
            announceStageFailure(tripwire::InstallStage::STARTING_SERVICE_HOST,
                                 "the launcher " + path + " exited with status " +
                                     std::to_string(status));
            return tripwire::FAILED_TO_START;
        }
        return tripwire::INSTALLED_AND_STARTED;
    } catch (...) {
        announceStageFailure(tripwire::InstallStage::STARTING_SERVICE_HOST,
                             "the launcher " + path +
                                 " could not be run: " + currentExceptionReason());
        return tripwire::FAILED_TO_START;
    }
}

std::string durationText(std::chrono::milliseconds duration) {
    return duration.count() % 1000 == 0 ? std::to_string(duration.count() / 1000) + " s"
                                        : std::to_string(duration.count()) + " ms";
}

} // namespace

tripwire::InstallConnectorResult
HALVEXConnectorTripwireImpl::startHALVEXServices(tripwire::HALVEXServicesMode mode) const {
    boost::optional<discovery::HXCInstallationInfo> installation;
    {
        const auto [first, second] = getFolderOverrides();
        installation = discovery::discoverLatestHALVEXConnectorInstall(
            mode == tripwire::STANDARD ? discovery::InstallationDiscoveryRoot::STANDARD
                                       : discovery::InstallationDiscoveryRoot::DRIVE,
            first, second);
    }
    if (!installation) {
        announceStageFailure(tripwire::InstallStage::STARTING_SERVICE_HOST,
                             "no installation found (LatestInstall.info is missing or unreadable)");
        return tripwire::INSTALL_FAILED;
    }
    if (mode == tripwire::STANDARD) {
        // The installation only proves presence: the keep-alive starts the service host.
        return startServiceHostWithTiming() ? tripwire::INSTALLED_AND_STARTED
                                            : tripwire::FAILED_TO_START;
    }
    return runLauncher(installation->launcher);
}

bool HALVEXConnectorTripwireImpl::startServiceHostWithTiming() const {
    const std::string startTimestamp = telx::util::getDateTimeWithMilliSec();
    const bool running = ensureServiceHostRunning();
    const std::string endTimestamp = telx::util::getDateTimeWithMilliSec();
    logStartupTimingEvent(startTimestamp, endTimestamp);
    return running;
}

bool HALVEXConnectorTripwireImpl::ensureServiceHostRunning() const {
    reviveKeepAliveIfFailed();
    const fl::filesystem::basic_path lockRoot = standardLockRoot();

    using Clock = std::chrono::steady_clock;
    const Clock::time_point pollingStart = Clock::now();
    for (;;) {
        if (anyAgentRunning(lockRoot)) {
            return true;
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pollingStart);
        if (elapsed > polling.limit) {
            announceStageFailure(tripwire::InstallStage::STARTING_SERVICE_HOST,
                                 "no service host agent within " + durationText(polling.limit));
            return false;
        }
        if (!waitForNextPoll(elapsed)) {
            announceStageFailure(tripwire::InstallStage::STARTING_SERVICE_HOST,
                                 "the wait for the service host was stopped");
            return false;
        }
    }
}

void HALVEXConnectorTripwireImpl::reviveKeepAliveIfFailed() const {
    // Only the test and the replacement are serialised: a second caller that arrives while the
    // first is starting the process waits and then finds a healthy keep-alive.
    std::lock_guard<std::mutex> lock(keepAliveMutex);
    if (keepAlive.hasTerminalFailure()) {
        keepAlive = serviceprocess::client_lifetime::startServiceProcess({});
    }
}

bool HALVEXConnectorTripwireImpl::waitForNextPoll(std::chrono::milliseconds elapsed) const {
    std::unique_lock<std::mutex> lock(stateMutex);
    if (stopFlag) {
        return false;
    }
    const auto interval =
        elapsed <= polling.shortPhase ? polling.shortInterval : polling.longInterval;
    const auto deadline = std::chrono::steady_clock::now() + interval;
    return !wakeUpCondition.wait_until(lock, deadline, [this] { return stopFlag; });
}

} // namespace halvexconnector::tripwireimpl
