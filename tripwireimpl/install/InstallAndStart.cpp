#include "HALVEXConnectorTripwireImpl.h"

#include "download/ManagedInstallRoot.h"
#include "install/InstallAttempt.h"

namespace halvexconnector::tripwireimpl {

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
        [this] { return startServiceHostWithTiming(); });
    return attempt.run(triggeredBy, installationRoot);
}

} // namespace halvexconnector::tripwireimpl
