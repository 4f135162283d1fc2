#include "ModeLocations.h"

#include <agent/control/AgentDiscovery.h>
#include <agent/control/AgentSelection.h>
#include <agent/utils/FolderLocations.h>
#include <halvexconnector/folderlocations/FolderLocations.h>

namespace halvexconnector::tripwireimpl {

namespace {

namespace discovery = latestversion::installationdiscovery;

boost::optional<fl::ustring>
overrideText(const boost::optional<fl::filesystem::basic_path>& folder) {
    if (!folder) {
        return boost::none;
    }
    return folder->string();
}

folderlocations::FolderLocations standardFolders(const FolderOverrides& overrides) {
    return {overrideText(overrides.first), overrideText(overrides.second)};
}

} // namespace

const FolderOverrides& ModeLocations::overrides() const {
    if (!lookedUp) {
        lookedUp = getFolderOverrides();
    }
    return *lookedUp;
}

fl::filesystem::basic_path ModeLocations::lockRoot() const {
    if (mode == tripwire::STANDARD) {
        return standardFolders(overrides()).lockRoot();
    }
    if (mode == tripwire::DRIVE) {
        return agent::utils::FolderLocations(boost::none, overrideText(overrides().first),
                                             overrideText(overrides().second))
            .lockRoot();
    }
    return {};
}

boost::optional<discovery::HXCInstallationInfo> ModeLocations::latestInstallation() const {
    return discovery::discoverLatestHALVEXConnectorInstall(
        mode == tripwire::STANDARD ? discovery::InstallationDiscoveryRoot::STANDARD
                                   : discovery::InstallationDiscoveryRoot::DRIVE,
        overrides().first, overrides().second);
}

fl::filesystem::basic_path ModeLocations::userStorageRoot() const {
    return standardFolders(overrides()).userStorageRoot();
}

bool anyAgentRunning(const fl::filesystem::basic_path& lockRoot) {
    try {
        return agent::control::isAnyAgentRunning(lockRoot, agent::control::ALL_AGENTS);
    } catch (...) {
        return false;
    }
}

} // namespace halvexconnector::tripwireimpl
