#pragma once

#include "halvexconnector/latestversion/installationdiscovery/HXCInstallationInfo.h"
#include "halvexconnector/latestversion/installationdiscovery/InstallationDiscoveryRoot.h"

#include <fl/filesystem/basic_path.h>

#include <boost/optional.hpp>

namespace halvexconnector::latestversion::installationdiscovery {

// The name of the diagnostic logger that explains why nothing was discovered.
inline constexpr const char* kDiscoveryLoggerName =
    "halvexconnector::latestversion::installationdiscovery";
// Severity of the record for a present but unusable description file.
inline constexpr unsigned kInvalidFileSeverity = 8;
// Severity of the record for a missing description file.
inline constexpr unsigned kMissingFileSeverity = 64;

// The directory that holds "LatestInstall.info" for a root: the first override when present
// (and not empty), else the storage root of that mode. The second override moves only the lock
// root of the folder locations, so it plays no part here. Throws std::invalid_argument for a
// value outside the enumeration and std::runtime_error when a default is needed and no home
// directory can be found.
fl::filesystem::basic_path
discoveryDirectory(InstallationDiscoveryRoot root,
                   const boost::optional<fl::filesystem::basic_path>& firstOverride,
                   const boost::optional<fl::filesystem::basic_path>& secondOverride);

// The latest installation, as "<discovery directory>/LatestInstall.info" describes it. A missing
// file, or one that is unreadable, malformed or lacks a required field, means no installation;
// the reason goes to the diagnostic log. Paths in the file may use '/' or '\' separators.
boost::optional<HXCInstallationInfo> discoverLatestHALVEXConnectorInstall(
    InstallationDiscoveryRoot root,
    const boost::optional<fl::filesystem::basic_path>& firstOverride,
    const boost::optional<fl::filesystem::basic_path>& secondOverride);

// Writes "<directory>/LatestInstall.info" for `info` atomically, creating the directory when
// missing. Throws std::invalid_argument for an empty field or a line break in one, and
// std::system_error when writing fails (the previous file is then left as it was).
void writeLatestInstallInfo(const fl::filesystem::basic_path& directory,
                            const HXCInstallationInfo& info);

} // namespace halvexconnector::latestversion::installationdiscovery
