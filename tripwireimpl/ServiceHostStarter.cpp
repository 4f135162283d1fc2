#include "ServiceHostStarter.h"

#include "ModeLocations.h"
#include "StageAnnouncement.h"
#include "telemetry/StartupTimingEvent.h"

#include <fl/i18n/conversion.h>
#include <foundation/core/process/command.h>
#include <foundation/core/process/context.h>
#include <foundation/core/process/process.h>
#include <telx/util/DateTime.h>

namespace halvexconnector::tripwireimpl {

namespace {

namespace process = foundation::core::process;

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

tripwire::InstallConnectorResult ServiceHostStarter::start(tripwire::HALVEXServicesMode mode) {
    const auto installation = ModeLocations(mode).latestInstallation();
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

bool ServiceHostStarter::startServiceHostWithTiming() {
    const std::string startTimestamp = telx::util::getDateTimeWithMilliSec();
    const bool running = ensureServiceHostRunning();
    const std::string endTimestamp = telx::util::getDateTimeWithMilliSec();
    logStartupTimingEvent(startTimestamp, endTimestamp);
    return running;
}

bool ServiceHostStarter::ensureServiceHostRunning() {
    reviveKeepAliveIfFailed();
    const fl::filesystem::basic_path lockRoot = ModeLocations(tripwire::STANDARD).lockRoot();

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

void ServiceHostStarter::activate() {
    std::lock_guard<std::mutex> lock(stateMutex);
    stopFlag = false;
}

void ServiceHostStarter::deactivate() {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        stopFlag = true;
    }
    // A start waiting for the service host wakes, sees the flag and gives up.
    wakeUpCondition.notify_all();
    keepAlive.reset();
}

void ServiceHostStarter::reviveKeepAliveIfFailed() {
    // Only the test and the replacement are serialised: a second caller that arrives while the
    // first is starting the process waits and then finds a healthy keep-alive.
    std::lock_guard<std::mutex> lock(keepAliveMutex);
    if (keepAlive.hasTerminalFailure()) {
        keepAlive = serviceprocess::client_lifetime::startServiceProcess({});
    }
}

bool ServiceHostStarter::waitForNextPoll(std::chrono::milliseconds elapsed) {
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
