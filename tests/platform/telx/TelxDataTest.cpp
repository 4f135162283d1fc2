#include "TelxTestSupport.h"

#include <stdexcept>
#include <unistd.h>

namespace {

using tripwire::test::identification;
using tripwire::test::TelemetryDirTest;

template <typename Pairs> std::vector<std::string> keysOf(const Pairs& pairs) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : pairs) {
        keys.push_back(key);
    }
    return keys;
}

TEST(TelxDataTest, KeysKeepTheirFirstPositionAndTheLastValue) {
    telx::TelxData data;
    data.setKeyValue("zulu", "1");
    data.setKeyValue("alpha", "2");
    data.setKeyValue("mike", "");
    data.setKeyValue("zulu", "3");
    EXPECT_EQ(keysOf(data.getEntries()), (std::vector<std::string>{"zulu", "alpha", "mike"}));
    EXPECT_EQ(data.getValue("zulu"), "3");
    EXPECT_EQ(data.getValue("mike"), "");
    EXPECT_THROW(data.setKeyValue("", "value"), std::invalid_argument);
    EXPECT_EQ(data.size(), 3u);
}

using TelxEventLineTest = TelemetryDirTest;

TEST_F(TelxEventLineTest, LineCarriesIdentificationSequenceAndOrderedData) {
    telx::TelxData data;
    for (const char* key : {"startTimestamp", "endTimestamp", "installResult", "mode", "aaa"}) {
        data.setKeyValue(key, std::string("v-") + key);
    }
    data.setKeyValue("installResult", "");
    const auto first = log(data);
    telx::TelxOption durable;
    durable.setDurable(true);
    EXPECT_EQ(log(data, durable), first + 1);

    ASSERT_EQ(lines().size(), 2u);
    const auto line = event(0);
    EXPECT_EQ(keysOf(line.items()),
              (std::vector<std::string>{"format", "seq", "pid", "sentAt", "product", "appComponent",
                                        "eventKey", "data"}));
    EXPECT_EQ(line["format"], 1);
    EXPECT_EQ(line["seq"], first);
    EXPECT_EQ(event(1)["seq"], first + 1);
    EXPECT_EQ(line["pid"], ::getpid());
    EXPECT_EQ(line["product"], "HX");
    EXPECT_EQ(line["appComponent"], "HX_QSH");
    EXPECT_EQ(line["eventKey"], "HX_QSH_INSTALL");
    EXPECT_EQ(keysOf(line["data"].items()), keysOf(data.getEntries()));
    EXPECT_EQ(line["data"]["installResult"], "");
    EXPECT_EQ(line["data"]["aaa"], "v-aaa");
}

TEST_F(TelxEventLineTest, AwkwardTextStaysOnOneLine) {
    const std::string awkward = "one\ntwo \"q\"\t\\ \r\x01 caf\xc3\xa9";
    telx::TelxData data;
    data.setKeyValue("message", awkward);
    data.setKeyValue("key\n", "x");
    data.setKeyValue("path", "/tmp/\xff-bad"); // not UTF-8: replaced, not dropped
    log(data);
    ASSERT_EQ(lines().size(), 1u);
    const auto fields = event(0)["data"];
    EXPECT_EQ(fields["message"], awkward);
    EXPECT_EQ(fields["key\n"], "x");
    EXPECT_EQ(fields["path"], "/tmp/\xef\xbf\xbd-bad");
}

TEST_F(TelxEventLineTest, IncompleteIdentificationIsRejectedBeforeAnythingIsWritten) {
    auto& service = telx::LoggingService::getService();
    for (int missing = 0; missing < 3; ++missing) {
        auto id = identification();
        (missing == 0   ? id.setProduct("")
         : missing == 1 ? id.setAppComponent("")
                        : id.setEventKey(""));
        EXPECT_THROW(service.logData(id, telx::TelxData{}, telx::TelxOption::defaultOption),
                     std::invalid_argument);
    }
    EXPECT_FALSE(std::filesystem::exists(telemetryDir()));
}

} // namespace
