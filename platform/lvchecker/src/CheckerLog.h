#pragma once

#include <foundation/log/log.h>

namespace halvexconnector::latestversion::checker {

inline constexpr foundation::log::severity_type severityWarning = 8;
inline constexpr foundation::log::severity_type severityNotice = 512;

// The checker's logger "halvexconnector::latestversion::checker".
foundation::log::diagnostic_logger& checkerLogger();

template <typename... Parts>
void writeCheckerLog(foundation::log::severity_type s, const Parts&... parts) {
    foundation::log::write_record(checkerLogger(), s, parts...);
}

} // namespace halvexconnector::latestversion::checker
