#include "HALVEXConnectorTripwireImpl.h"

#include "InstalledVersion.h"
#include "ModeLocations.h"
#include "install/InstallAttempt.h"
#include "install/ManagedInstallRoot.h"

namespace halvexconnector::tripwireimpl {

HALVEXConnectorTripwireImpl::HALVEXConnectorTripwireImpl() = default;

HALVEXConnectorTripwireImpl::~HALVEXConnectorTripwireImpl() = default;

void HALVEXConnectorTripwireImpl::Activate(const ComponentContextPtr& /*context*/) {
    starter.activate();
}

void HALVEXConnectorTripwireImpl::Deactivate(const ComponentContextPtr& /*context*/) {
    starter.deactivate();
}

bool HALVEXConnectorTripwireImpl::areHALVEXServicesRunning(
    tripwire::HALVEXServicesMode mode) const {
    try {
        return anyAgentRunning(ModeLocations(mode).lockRoot());
    } catch (...) {
        // A question that cannot be answered means nothing is known to run.
        return false;
    }
}

tripwire::HALVEXServicesInstallStatus HALVEXConnectorTripwireImpl::checkHALVEXServicesInstallation(
    tripwire::HALVEXServicesMode mode, const std::uint32_t (&requiredVersion)[4]) const {
    const auto installation = ModeLocations(mode).latestInstallation();
    if (!installation) {
        return tripwire::NOT_INSTALLED;
    }
    if (mode != tripwire::STANDARD) {
        return tripwire::INSTALLED;
    }
    unsigned installed[4] = {0, 0, 0, 0};
    if (readInstalledVersion(installation->version.c_str(), installed) < 4) {
        // A version that cannot be read is not held against the installation.
        return tripwire::INSTALLED;
    }
    return isOlderThanRequired(installed, requiredVersion) ? tripwire::OLDER_THAN_REQUIRED
                                                           : tripwire::INSTALLED;
}

tripwire::InstallConnectorResult
HALVEXConnectorTripwireImpl::startHALVEXServices(tripwire::HALVEXServicesMode mode) const {
    return starter.start(mode);
}

tripwire::InstallConnectorResult HALVEXConnectorTripwireImpl::installAndStartHALVEXServices(
    tripwire::HALVEXServicesMode mode, const std::string& triggeredBy,
    const boost::optional<fl::filesystem::basic_path>& /*ignoredPath*/,
    const boost::optional<fl::filesystem::basic_path>& installationRoot) {
    // A managed installation is someone else's to install: nothing is recorded or touched.
    if (reportManagedInstallRootIfSet()) {
        return tripwire::INSTALL_FAILED;
    }
    InstallAttempt attempt(
        mode,
        [this](const fl::filesystem::basic_path& directory) {
            tryToRemoveOrQueueForShutdown(directory);
        },
        [this] { return starter.startServiceHostWithTiming(); });
    return attempt.run(triggeredBy, installationRoot);
}

void HALVEXConnectorTripwireImpl::tryToRemoveOrQueueForShutdown(
    const fl::filesystem::basic_path& directory) {
    deferredRemovals.removeNowOrQueue(directory);
}

} // namespace halvexconnector::tripwireimpl
