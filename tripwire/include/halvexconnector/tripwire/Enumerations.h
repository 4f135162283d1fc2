#pragma once

#include <string_view>

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

// The enumerator's name; empty for a value outside the enumeration, which each reader spells
// its own way.
constexpr std::string_view enumeratorName(InstallConnectorResult result) noexcept {
    switch (result) {
    case INSTALL_FAILED:
        return "INSTALL_FAILED";
    case FAILED_TO_START:
        return "FAILED_TO_START";
    case INSTALLED_AND_STARTED:
        return "INSTALLED_AND_STARTED";
    }
    return {};
}

constexpr std::string_view enumeratorName(HALVEXServicesMode mode) noexcept {
    switch (mode) {
    case STANDARD:
        return "STANDARD";
    case DRIVE:
        return "DRIVE";
    }
    return {};
}

constexpr std::string_view enumeratorName(HALVEXServicesInstallStatus status) noexcept {
    switch (status) {
    case NOT_INSTALLED:
        return "NOT_INSTALLED";
    case OLDER_THAN_REQUIRED:
        return "OLDER_THAN_REQUIRED";
    case INSTALLED:
        return "INSTALLED";
    }
    return {};
}

} // namespace halvexconnector::tripwire
