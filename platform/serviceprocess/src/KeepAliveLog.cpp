#include "KeepAliveLog.h"

namespace halvexconnector::serviceprocess::client_lifetime::detail {

foundation::log::basic_diagnostic_logger<char>& keepAliveLogger() {
    static foundation::log::basic_diagnostic_logger<char> logger(keepAliveLoggerName);
    return logger;
}

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
