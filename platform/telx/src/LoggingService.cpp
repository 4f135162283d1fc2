#include <telx/LoggingService.h>

#include "JsonlLoggingService.h"

namespace telx {

LoggingService::~LoggingService() = default;

LoggingService& LoggingService::getService() {
    return detail::JsonlLoggingService::instance();
}

} // namespace telx
