#pragma once

namespace halvexconnector::latestversion::installationdiscovery {

// Where discovery looks for "LatestInstall.info".
enum class InstallationDiscoveryRoot : int {
    // The user storage root of the standard mode, or the first folder override.
    STANDARD = 0,
    // The drive-mode storage root, or the first folder override.
    DRIVE = 1,
};

} // namespace halvexconnector::latestversion::installationdiscovery
