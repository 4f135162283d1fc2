#include "TelxTestSupport.h"

#include <telx/util/DateTime.h>

#include <gtest/gtest.h>

#include <chrono>
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
    static const std::regex shape(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})\.(\d{3})([+-])(\d{2}):(\d{2})$)");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, shape)) << text;
    if (m.empty()) {
        return {};
    }
    auto field = [&](int i) {
        return std::stoi(m[i].str());
    };
    std::tm local{};
    local.tm_year = field(1) - 1900;
    local.tm_mon = field(2) - 1;
    local.tm_mday = field(3);
    local.tm_hour = field(4);
    local.tm_min = field(5);
    local.tm_sec = field(6);
    const int offset = (m[8] == "-" ? -1 : 1) * (field(9) * 60 + field(10));
    const auto wall = sys_seconds{seconds{timegm(&local)}} + milliseconds{field(7)};
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
