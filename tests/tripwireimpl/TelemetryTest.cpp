// The two telemetry events and the flags that gate them, against the real telemetry and feature
// libraries.
#include "InstallEventKeys.h"
#include "telemetry/FeatureFlag.h"
#include "telemetry/InstallResultEvent.h"
#include "telemetry/StartupTimingEvent.h"

#include <telx/WriteError.h>
#include <telx/util/DateTime.h>

#include <tripwire/testsupport/ModuleHome.h>

#include <gtest/gtest.h>

#include <fstream>

namespace halvexconnector::tripwireimpl {
namespace {

using namespace ::tripwire::testsupport;
using tripwire_test::installEventKeys;
using tripwire_test::summaryKeyCount;

// The detail fields in the order of their keys.
using Record = InstallTelemetryRecord;
// clang-format off
constexpr std::string Record::*detailFields[] = {
    &Record::extractionErrorMessage, &Record::extractionEndTimestamp, &Record::downloadErrorMessage,
    &Record::downloadEndTimestamp, &Record::extractDownloadErrorMessage,
    &Record::extractDownloadEndTimestamp, &Record::installerReturnCode,
    &Record::installerEndTimestamp, &Record::installerRerunReturnCode,
    &Record::installerRerunEndTimestamp};
// clang-format on

class Telemetry : public testing::Test {
protected:
    ModuleHome home{""};
};

TEST_F(Telemetry, TheInstallEventSendsEveryFieldUnderItsKeyWhenTheFlagIsOnAtThatCall) {
    // Every field holds a text of its own, so a value sent under the wrong key shows.
    Record record;
    record.startTimestamp = "2026-12-06T07:00:00.001+00:00";
    record.qshVersion = "26.1.0.7";
    record.installSource = installSourceLocal;
    for (std::size_t i = 0; i < std::size(detailFields); ++i) {
        record.*detailFields[i] = "v-" + installEventKeys[summaryKeyCount + i];
    }
    const struct {
        const char* flags;
        int mode;
        const char* modeText;
        bool detailed;
    } cases[] = {{"", 0, "STANDARD", false},
                 {"QSHTripwireStartupTELX", 1, "DRIVE", false},
                 {"QSHInstallErrorTELX", 7, "UNKNOWN", true},
                 {"QSHInstallErrorTELX=off", -1, "UNKNOWN", false}};
    for (const auto& c : cases) {
        home.set("QB_FEATURE_FLAGS", c.flags);
        record.mode = static_cast<tripwire::HALVEXServicesMode>(c.mode);
        const std::string before = telx::util::getDateTimeWithMilliSec();
        logInstallResultEvent(record, "FAILED_TO_START");
        const Json data = home.events().back();
        const std::size_t keys = c.detailed ? installEventKeys.size() : summaryKeyCount;
        EXPECT_EQ(keysOf(data), std::vector<std::string>(installEventKeys.begin(),
                                                         installEventKeys.begin() + keys))
            << c.flags;
        EXPECT_EQ(data["mode"], c.modeText) << c.mode;
        EXPECT_EQ(data["startTimestamp"], record.startTimestamp);
        EXPECT_LE(before, data["endTimestamp"].get<std::string>()) << "taken at each call";
        EXPECT_EQ(data["installResult"], "FAILED_TO_START");
        EXPECT_EQ(data["qshVersion"], "26.1.0.7");
        EXPECT_EQ(data["installSource"], "LOCAL");
        for (std::size_t i = summaryKeyCount; i < keys; ++i) {
            EXPECT_EQ(data[installEventKeys[i]], "v-" + installEventKeys[i]);
        }
        while (telx::util::getDateTimeWithMilliSec() == before) {
        }
    }
}

TEST_F(Telemetry, TheStartupEventNamesItsTwoStamps) {
    home.set("QB_FEATURE_FLAGS", "QSHTripwireStartupTELX");
    logStartupTimingEvent("start", "end");
    EXPECT_EQ(home.events("HX_QSH_STARTUP_TIMING").back(),
              Json({{"start_timestamp", "start"}, {"end_timestamp", "end"}}));
}

TEST_F(Telemetry, AnEventThatCannotBeStoredFailsTheCall) {
    std::ofstream(home / "telemetry") << "not a directory";
    EXPECT_THROW(logInstallResultEvent(Record{}, "INSTALL_FAILED"), telx::WriteError);
}

} // namespace
} // namespace halvexconnector::tripwireimpl
