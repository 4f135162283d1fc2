#pragma once

#include "halvexconnector/tripwire/Enumerations.h"

#include <string>

namespace halvexconnector::tripwireimpl {

// Texts that report results and install sources to telemetry.
extern const std::string installFailedText;
extern const std::string failedToStartText;
extern const std::string installedAndStartedText;
extern const std::string installSourceWeb;
extern const std::string installSourceLocal;

// "STANDARD", "DRIVE", or "UNKNOWN" for any other value.
std::string modeText(tripwire::HALVEXServicesMode mode);

// The enumerator's name; a value outside the enumeration is reported as a failed install.
const std::string& resultText(tripwire::InstallConnectorResult result);

} // namespace halvexconnector::tripwireimpl
