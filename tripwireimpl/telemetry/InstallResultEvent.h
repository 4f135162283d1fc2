#pragma once

#include "telemetry/InstallTelemetryRecord.h"

#include <string>

namespace halvexconnector::tripwireimpl {

// Sends the install-result event "HX_QSH_INSTALL" for an attempt that is about to return
// `result` (the name of the InstallConnectorResult, e.g. "INSTALL_FAILED"). The attempt's
// timing, result, version, source and mode are always sent; the error messages and per-stage
// end times and exit codes only while the flag "QSHInstallErrorTELX" is on (read on every call).
// Catches nothing: a failure of the telemetry or feature library leaves this function and no
// event is sent.
void logInstallResultEvent(const InstallTelemetryRecord& record, const std::string& result);

} // namespace halvexconnector::tripwireimpl
