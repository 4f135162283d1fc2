#include "TelxTestSupport.h"

#include <telx/TelxData.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <unistd.h>

namespace {

using tripwire::test::TelemetryDirTest;

std::vector<std::string> keysOf(const telx::TelxData& data) {
    std::vector<std::string> keys;
    for (const auto& entry : data.getEntries()) {
        keys.push_back(entry.first);
    }
    return keys;
}

std::vector<std::string> keysOf(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) {
        keys.push_back(item.key());
    }
    return keys;
}

TEST(TelxDataTest, KeysKeepTheOrderInWhichTheyWereSet) {
    telx::TelxData data;
    data.setKeyValue("zulu", "1");
    data.setKeyValue("alpha", "2");
    data.setKeyValue("mike", "");
    EXPECT_EQ(keysOf(data), (std::vector<std::string>{"zulu", "alpha", "mike"}));
    EXPECT_EQ(data.getValue("mike"), "");
    EXPECT_EQ(data.getValue("absent"), std::nullopt);
}

TEST(TelxDataTest, SettingAKeyAgainReplacesItsValueInPlace) {
    telx::TelxData data;
    data.setKeyValue("first", "a");
    data.setKeyValue("second", "b");
    data.setKeyValue("first", "c");
    EXPECT_EQ(keysOf(data), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(data.getValue("first"), "c");
}

TEST(TelxDataTest, EmptyKeyIsRejected) {
    telx::TelxData data;
    EXPECT_THROW(data.setKeyValue("", "value"), std::invalid_argument);
    EXPECT_TRUE(data.empty());
}

class TelxEventLineTest : public TelemetryDirTest {};

TEST_F(TelxEventLineTest, LineCarriesIdentificationSequenceAndOrderedData) {
    telx::TelxData data;
    for (const char* key : {"startTimestamp", "endTimestamp", "installResult", "qshVersion",
                            "installSource", "mode", "extractionErrorMessage"}) {
        data.setKeyValue(key, std::string("v-") + key);
    }
    data.setKeyValue("extractionErrorMessage", "");
    const auto first = log(data);
    const auto second = log(data);
    EXPECT_EQ(second, first + 1);

    const auto all = events();
    ASSERT_EQ(all.size(), 2u);
    const auto& event = all[0];
    EXPECT_EQ(keysOf(event), (std::vector<std::string>{"format", "seq", "pid", "sentAt", "product",
                                                       "appComponent", "eventKey", "data"}));
    EXPECT_EQ(event["format"], 1);
    EXPECT_EQ(event["seq"], first);
    EXPECT_EQ(all[1]["seq"], second);
    EXPECT_EQ(event["pid"], ::getpid());
    EXPECT_EQ(event["product"], "HX");
    EXPECT_EQ(event["appComponent"], "HX_QSH");
    EXPECT_EQ(event["eventKey"], "HX_QSH_INSTALL");
    EXPECT_EQ(keysOf(event["data"]), keysOf(data));
    EXPECT_EQ(event["data"]["mode"], "v-mode");
    EXPECT_EQ(event["data"]["extractionErrorMessage"], "");
}

TEST_F(TelxEventLineTest, AwkwardTextStaysOnOneLineAndRoundTrips) {
    const std::string awkward = "line one\nline \"two\"\t\\ \r\x01 caf\xc3\xa9 \xe2\x82\xac";
    telx::TelxData data;
    data.setKeyValue("message", awkward);
    data.setKeyValue("key with \"quotes\"\n", "x");
    log(data);
    const auto all = events();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["data"]["message"], awkward);
    EXPECT_EQ(all[0]["data"]["key with \"quotes\"\n"], "x");
}

TEST_F(TelxEventLineTest, InvalidUtf8IsReplacedNotDropped) {
    telx::TelxData data;
    data.setKeyValue("path", "/tmp/\xff\xfe-bad");
    data.setKeyValue("after", "kept");
    log(data);
    const auto all = events();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["data"]["path"], "/tmp/\xef\xbf\xbd\xef\xbf\xbd-bad");
    EXPECT_EQ(all[0]["data"]["after"], "kept");
}

TEST_F(TelxEventLineTest, IncompleteIdentificationIsRejectedBeforeAnythingIsWritten) {
    auto& service = telx::LoggingService::getService();
    telx::TelxData data;
    data.setKeyValue("k", "v");
    telx::DataIdentification noKey;
    noKey.setProduct("HX");
    noKey.setAppComponent("HX_QSH");
    EXPECT_THROW(service.logData(noKey, data, telx::TelxOption::defaultOption),
                 std::invalid_argument);
    telx::DataIdentification noProduct = identification();
    noProduct.setProduct("");
    EXPECT_THROW(service.logData(noProduct, data, telx::TelxOption::defaultOption),
                 std::invalid_argument);
    EXPECT_FALSE(std::filesystem::exists(telemetryDir()));
}

TEST_F(TelxEventLineTest, DurableOptionStillWritesOneLine) {
    EXPECT_FALSE(telx::TelxOption::defaultOption.isDurable());
    telx::TelxOption durable;
    durable.setDurable(true);
    log(telx::TelxData{}, durable);
    const auto all = events();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(all[0]["data"].is_object());
    EXPECT_TRUE(all[0]["data"].empty());
}

} // namespace
