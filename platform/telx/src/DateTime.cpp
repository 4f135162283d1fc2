#include <telx/util/DateTime.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace telx::util {

std::string getDateTimeWithMilliSec() {
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto seconds = floor<std::chrono::seconds>(now);
    const int millis = static_cast<int>((now - seconds).count());
    const std::time_t time = system_clock::to_time_t(seconds);

    // localtime_r reads TZ only once per process; tzset picks up a changed zone.
    tzset();
    std::tm local{};
    localtime_r(&time, &local);

    const long offsetMinutes = local.tm_gmtoff / 60;
    const char sign = offsetMinutes < 0 ? '-' : '+';
    const long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;

    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, millis, sign, absMinutes / 60, absMinutes % 60);
    return text;
}

} // namespace telx::util
