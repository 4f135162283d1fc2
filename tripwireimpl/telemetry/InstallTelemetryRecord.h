#pragma once

#include "halvexconnector/tripwire/Enumerations.h"

#include <string>

namespace halvexconnector::tripwireimpl {

// The texts of InstallTelemetryRecord::installSource.
inline const std::string installSourceWeb = "WEB";
inline const std::string installSourceLocal = "LOCAL";

// The facts of one install attempt, collected by the install operation as it goes and sent as
// the install-result event when it returns. Timestamps are telx::util::getDateTimeWithMilliSec()
// texts, return codes are decimal; a stage that did not run leaves its fields empty.
struct InstallTelemetryRecord {
    // Set by the install operation right after construction; STANDARD until then so that a
    // forgotten assignment can never read an indeterminate value.
    tripwire::HALVEXServicesMode mode = tripwire::STANDARD;
    std::string startTimestamp;
    std::string qshVersion;
    std::string installSource;
    std::string extractionErrorMessage;
    std::string extractionEndTimestamp;
    std::string downloadErrorMessage;
    std::string downloadEndTimestamp;
    std::string extractDownloadErrorMessage;
    std::string extractDownloadEndTimestamp;
    std::string installerReturnCode;
    std::string installerEndTimestamp;
    std::string installerRerunReturnCode;
    std::string installerRerunEndTimestamp;
};

} // namespace halvexconnector::tripwireimpl
