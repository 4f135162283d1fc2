#pragma once

#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/write_record.h>

#include <string>

namespace halvexconnector::tripwireimpl {

// Severities the module writes; each is a single bit of the logger's mask.
inline constexpr foundation::log::severity_type severityRemovalFailure = 8;
inline constexpr foundation::log::severity_type severityLocalSourceNotice = 8;
inline constexpr foundation::log::severity_type severityExceptionDetail = 16;
inline constexpr foundation::log::severity_type severityLaunchFailure = 256;
inline constexpr foundation::log::severity_type severityNotice = 512;

// The module-wide diagnostic logger "halvexconnector::tripwireimpl", built when the module is
// loaded and destroyed when it is unloaded.
foundation::log::basic_diagnostic_logger<char>& moduleLogger();

// One record of severity s made of the parts streamed in order; skipped (parts unformatted)
// when the mask lacks s or logging is disabled.
template <typename... Parts>
void writeLogRecord(foundation::log::severity_type s, const Parts&... parts) {
    foundation::log::write_record(moduleLogger(), s, parts...);
}

// Boost.Exception's verbose description of the exception being handled. Call only inside a
// handler.
std::string currentExceptionDiagnostic();

} // namespace halvexconnector::tripwireimpl
