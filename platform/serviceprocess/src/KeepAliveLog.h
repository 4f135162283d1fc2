#pragma once

#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/severity.h>

namespace halvexconnector::serviceprocess::client_lifetime::detail {

inline constexpr const char* keepAliveLoggerName =
    "halvexconnector::serviceprocess::client_lifetime";

/// An abnormal end that is answered by a restart, or no launcher to start.
inline constexpr foundation::log::severity_type restartSeverity = 8;
/// A clean end: the supervision ends without a failure of the service.
inline constexpr foundation::log::severity_type cleanEndSeverity = 64;
/// The supervision gives up: the budget is spent or the launcher cannot be started.
inline constexpr foundation::log::severity_type failureSeverity = 256;

foundation::log::basic_diagnostic_logger<char>& keepAliveLogger();

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
