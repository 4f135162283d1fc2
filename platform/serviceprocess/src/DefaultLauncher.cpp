#include "DefaultLauncher.h"

#include "halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h"

#include <exception>

namespace halvexconnector::serviceprocess::client_lifetime::detail {

namespace discovery = halvexconnector::latestversion::installationdiscovery;

std::optional<fl::filesystem::basic_path> installedLauncher() {
    try {
        const auto found = discovery::discoverLatestHALVEXConnectorInstall(
            discovery::InstallationDiscoveryRoot::STANDARD, boost::none, boost::none);
        if (found) {
            return found->launcher;
        }
    } catch (const std::exception&) {
        // No home directory or an unreadable file: nothing to start, like no installation.
    }
    return std::nullopt;
}

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
