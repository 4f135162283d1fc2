#pragma once

namespace halvexconnector::tripwire {

// The values cross the service boundary as int: hosts may compare them with 0, 1 and 2.

enum InstallConnectorResult : int {
    INSTALL_FAILED = 0,
    FAILED_TO_START = 1,
    INSTALLED_AND_STARTED = 2,
};

// Operations take the mode as a plain value and accept values outside the two enumerators.
enum HALVEXServicesMode : int {
    STANDARD = 0,
    DRIVE = 1,
};

enum HALVEXServicesInstallStatus : int {
    NOT_INSTALLED = 0,
    OLDER_THAN_REQUIRED = 1,
    INSTALLED = 2,
};

} // namespace halvexconnector::tripwire
