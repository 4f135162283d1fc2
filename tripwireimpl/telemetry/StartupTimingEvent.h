#pragma once

#include <string>

namespace halvexconnector::tripwireimpl {

// Sends the startup-timing event "HX_QSH_STARTUP_TIMING" with the times taken just before and
// just after an attempt to bring the service host up, when the flag "QSHTripwireStartupTELX" is
// on (read on every call); does nothing while it is off. The flag object lives in this function,
// so its exit-time destruction is registered on the first call.
//
// The start code calls it after each attempt that returned, whatever its result:
//     const std::string start = telx::util::getDateTimeWithMilliSec();
//     const auto result = ensureServiceHostRunning(...);
//     const std::string end = telx::util::getDateTimeWithMilliSec();
//     logStartupTimingEvent(start, end);
//     return result;
// Catches nothing: a failure of the telemetry or feature library leaves this function.
void logStartupTimingEvent(const std::string& startTimestamp, const std::string& endTimestamp);

} // namespace halvexconnector::tripwireimpl
