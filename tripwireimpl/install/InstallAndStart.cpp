#include "HALVEXConnectorTripwireImpl.h"

#include <stdexcept>

namespace halvexconnector::tripwireimpl {

tripwire::InstallConnectorResult HALVEXConnectorTripwireImpl::installAndStartHALVEXServices(
    tripwire::HALVEXServicesMode /*mode*/, const std::string& /*triggeredBy*/,
    const boost::optional<fl::filesystem::basic_path>& /*ignoredPath*/,
    const boost::optional<fl::filesystem::basic_path>& /*installationRoot*/) {
    throw std::logic_error("installAndStartHALVEXServices is not available in this build");
}

} // namespace halvexconnector::tripwireimpl
