#include "Logging.h"

#include <boost/exception/diagnostic_information.hpp>

namespace halvexconnector::tripwireimpl {

namespace {
foundation::log::basic_diagnostic_logger<char> tripwireLogger("halvexconnector::tripwireimpl");
} // namespace

foundation::log::basic_diagnostic_logger<char>& moduleLogger() {
    return tripwireLogger;
}

std::string currentExceptionDiagnostic() {
    return boost::current_exception_diagnostic_information(true);
}

} // namespace halvexconnector::tripwireimpl
