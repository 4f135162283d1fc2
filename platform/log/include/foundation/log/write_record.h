#pragma once

#include <foundation/log/basic_diagnostic_logger.h>

#include <boost/log/sources/record_ostream.hpp>

#include <mutex>
#include <utility>

namespace foundation::log {

/// Writes one record of severity s whose message is the parts streamed in order. Nothing is
/// written (and the parts are not formatted) when the mask lacks s or logging is disabled.
template <typename... Parts>
void write_record(basic_diagnostic_logger<char>& logger, severity_type s, const Parts&... parts) {
    if (!logger.is_enabled(s)) {
        return;
    }
    if (!logger.core()->get_logging_enabled()) {
        return;
    }
    boost::log::record rec;
    {
        std::lock_guard<basic_diagnostic_logger<char>::mutex_type> lock(logger.get_mutex());
        rec = logger.open_record_unlocked(s);
    }
    if (rec) {
        boost::log::record_ostream strm(rec);
        (strm << ... << parts);
        strm.flush();
        logger.push_record(std::move(rec));
    }
}

} // namespace foundation::log
