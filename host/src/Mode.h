#pragma once

#include "halvexconnector/tripwire/Enumerations.h"

#include <optional>
#include <string>

namespace tripwire_host {

// "standard", "drive" (any case) or a decimal integer, which is passed on unchanged: the
// service decides how it treats values outside the enumeration.
std::optional<halvexconnector::tripwire::HALVEXServicesMode> parseMode(const std::string& text);

} // namespace tripwire_host
