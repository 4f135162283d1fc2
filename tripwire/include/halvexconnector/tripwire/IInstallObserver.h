#pragma once

#include <string>
#include <string_view>

namespace halvexconnector::tripwire {

// The stages of one install attempt, in the order an attempt may pass through them. An attempt
// skips the stages it does not need (a local installer needs no download, a first run that
// succeeds needs no rerun, only the standard mode starts the service host).
enum class InstallStage {
    SEARCHING_LOCAL_SOURCES,
    PREPARING_LOCAL_ARCHIVE,
    LOOKING_UP_LATEST_VERSION,
    DOWNLOADING,
    EXTRACTING_DOWNLOAD,
    RUNNING_INSTALLER,
    RERUNNING_INSTALLER,
    STARTING_SERVICE_HOST
};

// A short English description of the stage for people ("Running the installer").
constexpr std::string_view describe(InstallStage stage) {
    switch (stage) {
    case InstallStage::SEARCHING_LOCAL_SOURCES:
        return "Looking for a local installer archive";
    case InstallStage::PREPARING_LOCAL_ARCHIVE:
        return "Extracting the local installer archive";
    case InstallStage::LOOKING_UP_LATEST_VERSION:
        return "Looking up the latest installer";
    case InstallStage::DOWNLOADING:
        return "Downloading the installer";
    case InstallStage::EXTRACTING_DOWNLOAD:
        return "Extracting the downloaded installer";
    case InstallStage::RUNNING_INSTALLER:
        return "Running the installer";
    case InstallStage::RERUNNING_INSTALLER:
        return "Running the installer again";
    case InstallStage::STARTING_SERVICE_HOST:
        return "Starting the service host";
    }
    return "Working";
}

// An optional service a host registers to follow install attempts while they run. The module
// looks it up anew at every stage, tells the first one it finds, and ignores whatever the
// observer throws: watching an attempt can never change its outcome. Calls arrive on the thread
// that called installAndStartHALVEXServices (or startHALVEXServices, which reports its failures
// here too) and should return quickly.
class IInstallObserver {
public:
    virtual ~IInstallObserver() = default;
    virtual void installStageEntered(InstallStage stage) = 0;
    // The stage failed, and so the attempt or the start: `reason` is one short English phrase
    // for people ("the installer exited with status 3"). An attempt that recovers (a local
    // installer run again) has told its failure all the same: the last one told is what ended it.
    virtual void installStageFailed(InstallStage /*stage*/, const std::string& /*reason*/) {}
    // The attempt downloads the latest installer, `version`, from `url` (without the digest the
    // archive is checked against). Told once the DOWNLOADING stage is entered.
    virtual void installerDownloadStarted(const std::string& /*version*/,
                                          const std::string& /*url*/) {}
};

} // namespace halvexconnector::tripwire
