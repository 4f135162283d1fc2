#include "TelemetryTestSupport.h"

#include "telemetry/StartupTimingEvent.h"

#include <string>
#include <vector>

namespace halvexconnector::tripwireimpl::test {
namespace {

using StartupTimingEventTest = TelemetryTest;

TEST_F(StartupTimingEventTest, FlagOffSendsNothing) {
    // Only the install event's flag is on.
    setFlags("QSHInstallErrorTELX");
    logStartupTimingEvent("2026-12-06T07:00:00.000+00:00", "2026-12-06T07:00:01.000+00:00");
    EXPECT_TRUE(events().empty());
}

TEST_F(StartupTimingEventTest, FlagOnSendsBothTimesInOrder) {
    setFlags("QSHTripwireStartupTELX");
    logStartupTimingEvent("2026-12-06T07:00:00.000+00:00", "2026-12-06T07:00:59.999+00:00");

    const auto sent = events();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["product"], "HX");
    EXPECT_EQ(sent[0]["appComponent"], "HX_QSH");
    EXPECT_EQ(sent[0]["eventKey"], "HX_QSH_STARTUP_TIMING");
    const Json& data = sent[0]["data"];
    EXPECT_EQ(keysOf(data), (std::vector<std::string>{"start_timestamp", "end_timestamp"}));
    EXPECT_EQ(data["start_timestamp"], "2026-12-06T07:00:00.000+00:00");
    EXPECT_EQ(data["end_timestamp"], "2026-12-06T07:00:59.999+00:00");
}

TEST_F(StartupTimingEventTest, FlagIsReadAgainOnEveryCall) {
    setFlags("QSHTripwireStartupTELX");
    logStartupTimingEvent("a1", "b1");
    setFlags("QSHTripwireStartupTELX=off");
    logStartupTimingEvent("a2", "b2");
    setFlags("QSHInstallErrorTELX,QSHTripwireStartupTELX");
    logStartupTimingEvent("a3", "b3");

    const auto sent = events();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["data"]["start_timestamp"], "a1");
    EXPECT_EQ(sent[1]["data"]["start_timestamp"], "a3");
}

} // namespace
} // namespace halvexconnector::tripwireimpl::test
