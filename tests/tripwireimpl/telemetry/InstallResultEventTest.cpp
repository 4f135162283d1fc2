#include "TelemetryTestSupport.h"

#include "Constants.h"
#include "telemetry/InstallResultEvent.h"

#include <telx/WriteError.h>
#include <telx/util/DateTime.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace halvexconnector::tripwireimpl::test {
namespace {

const std::vector<std::string> alwaysKeys{"startTimestamp", "endTimestamp",  "installResult",
                                          "qshVersion",     "installSource", "mode"};

// The detail keys in their order, each with the field it reports.
const std::vector<std::pair<std::string, std::string InstallTelemetryRecord::*>> detailFields{
    {"extractionErrorMessage", &InstallTelemetryRecord::extractionErrorMessage},
    {"extractionEndTimestamp", &InstallTelemetryRecord::extractionEndTimestamp},
    {"downloadErrorMessage", &InstallTelemetryRecord::downloadErrorMessage},
    {"downloadEndTimestamp", &InstallTelemetryRecord::downloadEndTimestamp},
    {"extractDownloadErrorMessage", &InstallTelemetryRecord::extractDownloadErrorMessage},
    {"extractDownloadEndTimestamp", &InstallTelemetryRecord::extractDownloadEndTimestamp},
    {"installerReturnCode", &InstallTelemetryRecord::installerReturnCode},
    {"installerEndTimestamp", &InstallTelemetryRecord::installerEndTimestamp},
    {"installerRerunReturnCode", &InstallTelemetryRecord::installerRerunReturnCode},
    {"installerRerunEndTimestamp", &InstallTelemetryRecord::installerRerunEndTimestamp}};

// Every field holds a text of its own, so a value sent under the wrong key shows.
InstallTelemetryRecord filledRecord() {
    InstallTelemetryRecord record;
    record.mode = tripwire::STANDARD;
    record.startTimestamp = "2026-12-06T07:00:00.001+00:00";
    record.qshVersion = "26.1.0.7";
    record.installSource = installSourceLocal;
    for (const auto& [key, field] : detailFields) {
        record.*field = "v-" + key;
    }
    return record;
}

std::vector<std::string> allKeys() {
    std::vector<std::string> keys = alwaysKeys;
    for (const auto& entry : detailFields) {
        keys.push_back(entry.first);
    }
    return keys;
}

// Waits until the telemetry clock shows a later text than `after`.
void waitForClockPast(const std::string& after) {
    while (telx::util::getDateTimeWithMilliSec() <= after) {
    }
}

using InstallResultEventTest = TelemetryTest;

TEST_F(InstallResultEventTest, FlagOffSendsTheSixSummaryKeysInOrder) {
    // Only the other event's flag is on: it must not unlock the detail keys.
    setFlags("QSHTripwireStartupTELX");
    const std::string before = telx::util::getDateTimeWithMilliSec();
    logInstallResultEvent(filledRecord(), installedAndStartedText);
    const std::string after = telx::util::getDateTimeWithMilliSec();

    const auto sent = events();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["product"], "HX");
    EXPECT_EQ(sent[0]["appComponent"], "HX_QSH");
    EXPECT_EQ(sent[0]["eventKey"], "HX_QSH_INSTALL");

    const Json& data = sent[0]["data"];
    EXPECT_EQ(keysOf(data), alwaysKeys);
    EXPECT_EQ(data["startTimestamp"], "2026-12-06T07:00:00.001+00:00");
    EXPECT_LE(before, data["endTimestamp"].get<std::string>());
    EXPECT_GE(after, data["endTimestamp"].get<std::string>());
    EXPECT_EQ(data["installResult"], "INSTALLED_AND_STARTED");
    EXPECT_EQ(data["qshVersion"], "26.1.0.7");
    EXPECT_EQ(data["installSource"], "LOCAL");
    EXPECT_EQ(data["mode"], "STANDARD");
}

TEST_F(InstallResultEventTest, FlagOnAddsTheTenDetailKeysAfterMode) {
    setFlags("QSHInstallErrorTELX");
    logInstallResultEvent(filledRecord(), failedToStartText);

    const auto sent = events();
    ASSERT_EQ(sent.size(), 1u);
    const Json& data = sent[0]["data"];
    EXPECT_EQ(keysOf(data), allKeys());
    EXPECT_EQ(data["installResult"], "FAILED_TO_START");
    for (const auto& entry : detailFields) {
        EXPECT_EQ(data[entry.first], "v-" + entry.first);
    }
}

TEST_F(InstallResultEventTest, EmptyFieldsAreSentAsEmptyValues) {
    setFlags("QSHInstallErrorTELX");
    logInstallResultEvent(InstallTelemetryRecord{}, installFailedText);

    const auto sent = events();
    ASSERT_EQ(sent.size(), 1u);
    const Json& data = sent[0]["data"];
    ASSERT_EQ(keysOf(data), allKeys());
    for (const auto& key : allKeys()) {
        if (key != "endTimestamp" && key != "installResult" && key != "mode") {
            EXPECT_EQ(data[key], "") << key;
        }
    }
    EXPECT_EQ(data["installResult"], "INSTALL_FAILED");
}

TEST_F(InstallResultEventTest, ModeTextCoversValuesOutsideTheEnumeration) {
    const std::vector<std::pair<int, std::string>> cases{
        {0, "STANDARD"}, {1, "DRIVE"}, {7, "UNKNOWN"}, {-1, "UNKNOWN"}};
    InstallTelemetryRecord record = filledRecord();
    for (const auto& [mode, text] : cases) {
        record.mode = static_cast<tripwire::HALVEXServicesMode>(mode);
        logInstallResultEvent(record, installFailedText);
    }

    const auto sent = events();
    ASSERT_EQ(sent.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(sent[i]["data"]["mode"], cases[i].second) << "mode " << cases[i].first;
    }
}

TEST_F(InstallResultEventTest, FlagIsReadAgainOnEveryCall) {
    const InstallTelemetryRecord record = filledRecord();
    logInstallResultEvent(record, installFailedText);
    setFlags("QSHInstallErrorTELX");
    logInstallResultEvent(record, installFailedText);
    setFlags("QSHInstallErrorTELX=off");
    logInstallResultEvent(record, installFailedText);

    const auto sent = events();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(keysOf(sent[0]["data"]), alwaysKeys);
    EXPECT_EQ(keysOf(sent[1]["data"]), allKeys());
    EXPECT_EQ(keysOf(sent[2]["data"]), alwaysKeys);
}

TEST_F(InstallResultEventTest, EachCallTakesItsOwnEndTimestamp) {
    const InstallTelemetryRecord record = filledRecord();
    logInstallResultEvent(record, installFailedText);
    waitForClockPast(events().at(0)["data"]["endTimestamp"].get<std::string>());
    logInstallResultEvent(record, installFailedText);

    const auto sent = events();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["data"]["startTimestamp"], sent[1]["data"]["startTimestamp"]);
    EXPECT_LT(sent[0]["data"]["endTimestamp"].get<std::string>(),
              sent[1]["data"]["endTimestamp"].get<std::string>());
}

TEST_F(InstallResultEventTest, FailureToStoreTheEventReachesTheCaller) {
    // The telemetry directory's place is taken by a file: the event cannot be stored.
    std::ofstream(root / "telemetry") << "not a directory";
    setFlags("QSHInstallErrorTELX");
    EXPECT_THROW(logInstallResultEvent(filledRecord(), installFailedText), telx::WriteError);
    EXPECT_FALSE(std::filesystem::exists(eventFile()));
}

} // namespace
} // namespace halvexconnector::tripwireimpl::test
