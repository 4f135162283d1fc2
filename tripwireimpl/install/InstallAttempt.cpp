#include "install/InstallAttempt.h"

#include "Constants.h"
#include "Logging.h"
#include "download/LatestInstallerDownload.h"
#include "download/WorkingDirectory.h"
#include "install/ArchivePreparation.h"
#include "install/InstallerRun.h"
#include "install/StageAnnouncement.h"
#include "telemetry/InstallResultEvent.h"

#include <telx/util/DateTime.h>

#include <utility>

namespace halvexconnector::tripwireimpl {

namespace {

using tripwire::InstallConnectorResult;
using tripwire::InstallStage;

std::string now() {
    return telx::util::getDateTimeWithMilliSec();
}

void logLaunchFailure(InstallStage stage) {
    writeLogRecord(severityLaunchFailure, "Launching installer failed.");
    announceStageFailure(stage, "the installer could not be run: " + currentExceptionReason());
}

void announceExitCode(InstallStage stage, std::uint32_t exitCode) {
    if (exitCode != installerSucceeded) {
        announceStageFailure(stage, "the installer exited with status " + std::to_string(exitCode) +
                                        (exitCode == installerCannotStartServiceHost
                                             ? " (it cannot start the service host)"
                                             : ""));
    }
}

} // namespace

InstallAttempt::InstallAttempt(tripwire::HALVEXServicesMode mode, RemoveOrQueue removeOrQueue,
                               StartServiceHost startServiceHost)
    : removeOrQueue(std::move(removeOrQueue)), startServiceHost(std::move(startServiceHost)) {
    record.mode = mode;
    record.startTimestamp = now();
    record.installSource = installSourceWeb;
}

InstallConnectorResult
InstallAttempt::run(const std::string& triggeredBy,
                    const boost::optional<fl::filesystem::basic_path>& installationRoot) {
    announceStage(InstallStage::SEARCHING_LOCAL_SOURCES);
    const LocalSource source = findLocalSource();
    if (source.found()) {
        prepareLocalArchive(source);
    }
    if (installerPath.empty()) {
        fallBackToDownload();
    }
    record.extractionEndTimestamp = now();
    if (installerPath.empty()) {
        installerPath = downloadLatestInstaller(record, guard, removeOrQueue);
        if (installerPath.empty()) {
            return report(tripwire::INSTALL_FAILED);
        }
    }
    arguments = buildInstallerArguments(localSourceUsed, source.sourcesDirectory, triggeredBy,
                                        installationRoot);
    return runInstallerAndFinish();
}

void InstallAttempt::prepareLocalArchive(const LocalSource& source) {
    announceStage(InstallStage::PREPARING_LOCAL_ARCHIVE);
    const WorkingDirectory workingDirectory =
        WorkingDirectory::claim(localPreparationEntry(source.fileName));
    const LocalPreparationPaths paths =
        localPreparationPaths(workingDirectory.path(), source.fileName);
    guard = workingDirectoryCleanup(workingDirectory, removeOrQueue);
    try {
        workingDirectory.create();
        PreparedInstaller prepared = tripwireimpl::prepareLocalArchive(paths, source.fullPathName);
        installerPath = std::move(prepared.installerPath);
        record.qshVersion = std::move(prepared.version);
        if (!installerPath.empty()) {
            localSourceUsed = true;
            record.installSource = installSourceLocal;
        }
    } catch (...) {
        record.extractionErrorMessage = currentExceptionDiagnostic();
        writeLogRecord(severityLocalSourceNotice,
                       "Roduded Ozovizaz install failed to extract zip.\n",
                       "Exception caught: ", record.extractionErrorMessage);
        installerPath = fl::filesystem::basic_path();
        localSourceUsed = false;
    }
}

void InstallAttempt::fallBackToDownload() {
    writeLogRecord(severityLocalSourceNotice,
                   "Roduded Ozovizaz install expected to find sources but "
                   "did not, falling back to download.");
    // The local working directory goes before the download starts; a failure of its removal
    // is not this attempt's to hide.
    if (guard.holdsAction()) {
        guard.runNow();
    }
}

InstallConnectorResult InstallAttempt::runInstallerAndFinish() {
    announceStage(InstallStage::RUNNING_INSTALLER);
    try {
        const std::uint32_t exitCode = runInstaller(installerPath, arguments);
        record.installerReturnCode = std::to_string(exitCode);
        record.installerEndTimestamp = now();
        announceExitCode(InstallStage::RUNNING_INSTALLER, exitCode);
        if (exitCode == installerSucceeded) {
            return finish();
        }
        if (exitCode == installerCannotStartServiceHost) {
            return report(tripwire::FAILED_TO_START);
        }
    } catch (...) {
        record.installerEndTimestamp = now();
        logLaunchFailure(InstallStage::RUNNING_INSTALLER);
    }
    return rerunOrFail();
}

InstallConnectorResult InstallAttempt::rerunOrFail() {
    // Only a local archive may be stale or incomplete next to its sources; a downloaded
    // installer that failed once would fail again.
    if (!localSourceUsed) {
        return report(tripwire::INSTALL_FAILED);
    }
    dropSourceArguments(arguments);
    announceStage(InstallStage::RERUNNING_INSTALLER);
    try {
        const std::uint32_t exitCode = runInstaller(installerPath, arguments);
        record.installerRerunReturnCode = std::to_string(exitCode);
        record.installerRerunEndTimestamp = now();
        announceExitCode(InstallStage::RERUNNING_INSTALLER, exitCode);
        if (exitCode == installerSucceeded) {
            return finish();
        }
        if (exitCode == installerCannotStartServiceHost) {
            return report(tripwire::FAILED_TO_START);
        }
        return report(tripwire::INSTALL_FAILED);
    } catch (...) {
        record.installerRerunEndTimestamp = now();
        logLaunchFailure(InstallStage::RERUNNING_INSTALLER);
    }
    return report(tripwire::INSTALL_FAILED);
}

InstallConnectorResult InstallAttempt::finish() {
    if (static_cast<int>(record.mode) != static_cast<int>(tripwire::STANDARD)) {
        return report(tripwire::INSTALLED_AND_STARTED);
    }
    announceStage(InstallStage::STARTING_SERVICE_HOST);
    return report(startServiceHost() ? tripwire::INSTALLED_AND_STARTED : tripwire::FAILED_TO_START);
}

InstallConnectorResult InstallAttempt::report(InstallConnectorResult result) {
    logInstallResultEvent(record, resultText(result));
    return result;
}

} // namespace halvexconnector::tripwireimpl
