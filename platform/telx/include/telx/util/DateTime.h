#pragma once

#include <string>

namespace telx::util {

/// The current local date and time in ISO 8601 with milliseconds and the offset from UTC,
/// e.g. "2026-12-06T07:12:03.123+01:00". Follows changes of TZ.
std::string getDateTimeWithMilliSec();

} // namespace telx::util
