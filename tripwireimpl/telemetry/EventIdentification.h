#pragma once

#include <telx/DataIdentification.h>

#include <string>

namespace halvexconnector::tripwireimpl {

// The identification of one of the module's events: product "HX", component "HX_QSH", then
// `eventKey`, set in that order.
telx::DataIdentification identifyEvent(const std::string& eventKey);

} // namespace halvexconnector::tripwireimpl
