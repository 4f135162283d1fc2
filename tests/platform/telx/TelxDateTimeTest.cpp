#include "TelxTestSupport.h"

#include <telx/util/DateTime.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <regex>

namespace {

using namespace std::chrono;
using tripwire::test::ScopedEnv;

struct Parsed {
    sys_time<milliseconds> instant;
    int offsetMinutes;
};

// Reads "YYYY-MM-DDThh:mm:ss.mmm+hh:mm" back into an instant; fails the test on other shapes.
Parsed parse(const std::string& text) {
    static const std::regex shape(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
    std::tm local{};
    int millis = 0, offsetHours = 0, offsetMinutes = 0;
    char sign = '+';
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%d%c%d:%d", &local.tm_year, &local.tm_mon,
                &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec, &millis, &sign,
                &offsetHours, &offsetMinutes);
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    const int offset = (sign == '-' ? -1 : 1) * (offsetHours * 60 + offsetMinutes);
    const auto wall = sys_seconds{seconds{timegm(&local)}} + milliseconds{millis};
    return {wall - minutes{offset}, offset};
}

struct Zone {
    const char* tz;
    int offsetMinutes;
};

void PrintTo(const Zone& zone, std::ostream* out) {
    *out << "TZ=" << zone.tz;
}

class TelxDateTimeTest : public ::testing::TestWithParam<Zone> {};

TEST_P(TelxDateTimeTest, IsIsoWithMillisecondsAndTheZoneOffset) {
    const auto [zone, expectedOffset] = GetParam();
    ScopedEnv tz("TZ", zone);
    const auto before = floor<milliseconds>(system_clock::now());
    const auto text = telx::util::getDateTimeWithMilliSec();
    const auto after = floor<milliseconds>(system_clock::now());

    const auto parsed = parse(text);
    EXPECT_EQ(parsed.offsetMinutes, expectedOffset) << text;
    // Local wall time and offset together must name the moment of the call.
    EXPECT_LE(before, parsed.instant) << text;
    EXPECT_LE(parsed.instant, after) << text;
}

// POSIX TZ offsets are west-positive: "XXX-05:30" is 5h30 east of UTC.
INSTANTIATE_TEST_SUITE_P(Zones, TelxDateTimeTest,
                         ::testing::Values(Zone{"UTC0", 0}, Zone{"XXX-05:30", 330},
                                           Zone{"YYY+03:30", -210}, Zone{"ZZZ+11", -660}));

} // namespace
