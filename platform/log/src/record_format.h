#pragma once

// The one-line text form of a record used by the console and file sinks; not installed.

#include <boost/log/core/record_view.hpp>
#include <boost/log/utility/formatting_ostream.hpp>

namespace foundation::log::detail {

/// "<UTC time> <severity> <logger>: <message>" with one trailing newline of the message dropped.
void format_record(const boost::log::record_view& rec, boost::log::formatting_ostream& strm);

} // namespace foundation::log::detail
