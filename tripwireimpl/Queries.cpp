#include "HALVEXConnectorTripwireImpl.h"
#include "InstalledVersion.h"
#include "ServiceLookup.h"

#include <agent/control/AgentDiscovery.h>
#include <agent/utils/FolderLocations.h>
#include <halvexconnector/folderlocations/FolderLocations.h>
#include <halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h>

namespace halvexconnector::tripwireimpl {

namespace {

using FolderOverride = boost::optional<fl::filesystem::basic_path>;
namespace discovery = halvexconnector::latestversion::installationdiscovery;

// Every running agent under a lock root, whoever runs it.
constexpr unsigned kEveryRunningAgent = 3;

boost::optional<fl::ustring> overrideText(const FolderOverride& folder) {
    if (!folder) {
        return boost::none;
    }
    return folder->string();
}

fl::filesystem::basic_path lockRootFor(tripwire::HALVEXServicesMode mode) {
    if (mode == tripwire::STANDARD) {
        const auto [first, second] = getFolderOverrides();
        return folderlocations::FolderLocations(overrideText(first), overrideText(second))
            .lockRoot();
    }
    if (mode == tripwire::DRIVE) {
        const auto [first, second] = getFolderOverrides();
        return agent::utils::FolderLocations(boost::none, overrideText(first), overrideText(second))
            .lockRoot();
    }
    // Other modes have no folders of their own; the registry decides what an empty root means.
    return {};
}

discovery::InstallationDiscoveryRoot discoveryRootFor(tripwire::HALVEXServicesMode mode) {
    return mode == tripwire::STANDARD ? discovery::InstallationDiscoveryRoot::STANDARD
                                      : discovery::InstallationDiscoveryRoot::DRIVE;
}

} // namespace

bool HALVEXConnectorTripwireImpl::areHALVEXServicesRunning(
    tripwire::HALVEXServicesMode mode) const {
    try {
        const fl::filesystem::basic_path lockRoot = lockRootFor(mode);
        return agent::control::isAnyAgentRunning(lockRoot, kEveryRunningAgent);
    } catch (...) {
        // A question that cannot be answered means nothing is known to run.
        return false;
    }
}

tripwire::HALVEXServicesInstallStatus HALVEXConnectorTripwireImpl::checkHALVEXServicesInstallation(
    tripwire::HALVEXServicesMode mode, const std::uint32_t (&requiredVersion)[4]) const {
    const auto [first, second] = getFolderOverrides();
    const boost::optional<discovery::HXCInstallationInfo> installation =
        discovery::discoverLatestHALVEXConnectorInstall(discoveryRootFor(mode), first, second);
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

} // namespace halvexconnector::tripwireimpl
