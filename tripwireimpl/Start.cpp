#include "HALVEXConnectorTripwireImpl.h"

#include <stdexcept>

namespace halvexconnector::tripwireimpl {

tripwire::InstallConnectorResult
HALVEXConnectorTripwireImpl::startHALVEXServices(tripwire::HALVEXServicesMode /*mode*/) const {
    throw std::logic_error("startHALVEXServices is not available in this build");
}

} // namespace halvexconnector::tripwireimpl
