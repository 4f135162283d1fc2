#include "install/InstallAttempt.h"

#include "Logging.h"
#include "StageAnnouncement.h"
#include "download/LatestInstallerDownload.h"
#include "install/ArchivePreparation.h"
#include "install/InstallerRun.h"
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

InstallAttempt::InstallAttempt(tripwire::HALVEXServicesMode mode,
                               RemoveOrQueueForShutdown removeOrQueue,
                               StartServiceHost startServiceHost)
    : mode(mode), removeOrQueue(std::move(removeOrQueue)),
      startServiceHost(std::move(startServiceHost)) {
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
    if (const auto result = runInstallerOnce(InstallStage::RUNNING_INSTALLER)) {
        return *result;
    }
    // Only a local archive may be stale or incomplete next to its sources; a downloaded
    // installer that failed once would fail again.
    if (!localSourceUsed) {
        return report(tripwire::INSTALL_FAILED);
    }
    dropSourceArguments(arguments);
    const auto result = runInstallerOnce(InstallStage::RERUNNING_INSTALLER);
    return result ? *result : report(tripwire::INSTALL_FAILED);
}

std::optional<InstallConnectorResult> InstallAttempt::runInstallerOnce(InstallStage stage) {
    const bool rerun = stage == InstallStage::RERUNNING_INSTALLER;
    std::string& endField =
        rerun ? record.installerRerunEndTimestamp : record.installerEndTimestamp;
    announceStage(stage);
    try {
        const std::uint32_t exitCode = runInstaller(installerPath, arguments);
        (rerun ? record.installerRerunReturnCode : record.installerReturnCode) =
            std::to_string(exitCode);
        endField = now();
        announceExitCode(stage, exitCode);
        if (exitCode == installerSucceeded) {
            return finish();
        }
        if (exitCode == installerCannotStartServiceHost) {
            return report(tripwire::FAILED_TO_START);
        }
        if (rerun) {
            return report(tripwire::INSTALL_FAILED);
        }
    } catch (...) {
        endField = now();
        logLaunchFailure(stage);
    }
    return std::nullopt;
}

InstallConnectorResult InstallAttempt::finish() {
    if (mode != tripwire::STANDARD) {
        return report(tripwire::INSTALLED_AND_STARTED);
    }
    announceStage(InstallStage::STARTING_SERVICE_HOST);
    return report(startServiceHost() ? tripwire::INSTALLED_AND_STARTED : tripwire::FAILED_TO_START);
}

InstallConnectorResult InstallAttempt::report(InstallConnectorResult result) {
    logInstallResultEvent(record, std::string(tripwire::enumeratorName(result)));
    return result;
}

} // namespace halvexconnector::tripwireimpl
