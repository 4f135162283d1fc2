#include "HALVEXConnectorTripwireImpl.h"

#include <stdexcept>

namespace halvexconnector::tripwireimpl {

bool HALVEXConnectorTripwireImpl::areHALVEXServicesRunning(
    tripwire::HALVEXServicesMode /*mode*/) const {
    throw std::logic_error("areHALVEXServicesRunning is not available in this build");
}

tripwire::HALVEXServicesInstallStatus HALVEXConnectorTripwireImpl::checkHALVEXServicesInstallation(
    tripwire::HALVEXServicesMode /*mode*/, const std::uint32_t (&/*requiredVersion*/)[4]) const {
    throw std::logic_error("checkHALVEXServicesInstallation is not available in this build");
}

} // namespace halvexconnector::tripwireimpl
