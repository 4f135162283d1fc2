#pragma once

#include <fl/filesystem/basic_path.h>

#include <string>

namespace halvexconnector::latestversion::installationdiscovery {

// One discovered installation of the service host.
struct HXCInstallationInfo {
    // The installation directory.
    fl::filesystem::basic_path path;
    // The service host's launcher executable.
    fl::filesystem::basic_path launcher;
    // The installed version, normally four dot-separated numbers ("2024.7.0.6").
    std::string version;
};

} // namespace halvexconnector::latestversion::installationdiscovery
