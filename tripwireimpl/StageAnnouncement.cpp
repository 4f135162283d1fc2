#include "StageAnnouncement.h"

#include "ServiceLookup.h"

#include <exception>

namespace halvexconnector::tripwireimpl {

void announceStage(tripwire::InstallStage stage) noexcept {
    try {
        if (const std::shared_ptr<tripwire::IInstallObserver> observer =
                getService<tripwire::IInstallObserver>(cppmicroservices::LDAPFilter())) {
            observer->installStageEntered(stage);
        }
    } catch (...) {
        // Following an attempt is a courtesy to the host; the attempt goes on regardless.
    }
}

void announceStageFailure(tripwire::InstallStage stage, const std::string& reason) noexcept {
    try {
        if (const std::shared_ptr<tripwire::IInstallObserver> observer =
                getService<tripwire::IInstallObserver>(cppmicroservices::LDAPFilter())) {
            observer->installStageFailed(stage, reason);
        }
    } catch (...) {
        // As above: the host's loss, never the attempt's.
    }
}

void announceInstallerDownload(const std::string& version, const std::string& url) noexcept {
    try {
        if (const std::shared_ptr<tripwire::IInstallObserver> observer =
                getService<tripwire::IInstallObserver>(cppmicroservices::LDAPFilter())) {
            observer->installerDownloadStarted(version, url.substr(0, url.find('#')));
        }
    } catch (...) {
        // As above.
    }
}

std::string currentExceptionReason() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an unknown error";
    }
}

} // namespace halvexconnector::tripwireimpl
