#pragma once

#include "halvexconnector/tripwire/Enumerations.h"

#include <fl/filesystem/basic_path.h>

#include <boost/optional.hpp>

#include <cstdint>
#include <string>

namespace halvexconnector::tripwire {

// The service through which a host makes sure the service host is installed and running.
// Published under the interface id "halvexconnector::tripwire::ITripwire". Every operation is a
// synchronous call on the caller's thread; operations may run concurrently on one object.
// The order of the virtual operations is part of the binary contract with hosts.
class ITripwire {
public:
    virtual ~ITripwire() {}

    // True when at least one agent of the service host runs under the mode's lock root.
    virtual bool areHALVEXServicesRunning(HALVEXServicesMode mode) const = 0;

    // Whether an installation exists and, in the standard mode, whether its version reaches
    // requiredVersion (four numbers, most significant first).
    virtual HALVEXServicesInstallStatus
    checkHALVEXServicesInstallation(HALVEXServicesMode mode,
                                    const std::uint32_t (&requiredVersion)[4]) const = 0;

    // Starts the discovered installation; INSTALL_FAILED when there is none.
    virtual InstallConnectorResult startHALVEXServices(HALVEXServicesMode mode) const = 0;

    // Installs the service host and, in the standard mode, starts it. ignoredPath is not read;
    // installationRoot, when set, is where the installer is told to install.
    virtual InstallConnectorResult installAndStartHALVEXServices(
        HALVEXServicesMode mode, const std::string& triggeredBy,
        const boost::optional<fl::filesystem::basic_path>& ignoredPath,
        const boost::optional<fl::filesystem::basic_path>& installationRoot) = 0;
};

} // namespace halvexconnector::tripwire
