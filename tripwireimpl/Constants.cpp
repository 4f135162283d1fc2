#include "Constants.h"

namespace halvexconnector::tripwireimpl {

const std::string installFailedText = "INSTALL_FAILED";
const std::string failedToStartText = "FAILED_TO_START";
const std::string installedAndStartedText = "INSTALLED_AND_STARTED";
const std::string installSourceWeb = "WEB";
const std::string installSourceLocal = "LOCAL";

std::string modeText(tripwire::HALVEXServicesMode mode) {
    if (mode == 0) {
        return "STANDARD";
    }
    if (mode == 1) {
        return "DRIVE";
    }
    return "UNKNOWN";
}

const std::string& resultText(tripwire::InstallConnectorResult result) {
    switch (result) {
    case tripwire::FAILED_TO_START:
        return failedToStartText;
    case tripwire::INSTALLED_AND_STARTED:
        return installedAndStartedText;
    case tripwire::INSTALL_FAILED:
    default:
        return installFailedText;
    }
}

} // namespace halvexconnector::tripwireimpl
