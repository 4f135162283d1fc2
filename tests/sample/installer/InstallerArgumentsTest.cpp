#include "InstallerArguments.h"
#include "InstallerLog.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using sample::installer::ArgumentError;
using sample::installer::formatInstallerLogLine;
using sample::installer::parseInstallerArguments;
using Args = std::vector<std::string>;

TEST(InstallerArguments, TakesTheLocalListWithItsValuesVerbatim) {
    const auto parsed =
        parseInstallerArguments({"-source", "/opt/my sources", "-mode", "silent", "-triggeredby",
                                 "TRIPWIRE_", "-installationroot", "/srv/Service Host"});
    EXPECT_EQ(parsed.source, "/opt/my sources");
    EXPECT_EQ(parsed.mode, "silent");
    EXPECT_EQ(parsed.triggeredBy, "TRIPWIRE_");
    EXPECT_EQ(parsed.installationRoot, "/srv/Service Host");
}

TEST(InstallerArguments, OptionalPartsMayBeAbsentOrEmpty) {
    const auto rerun = parseInstallerArguments({"-mode", "silent", "-triggeredby", "TRIPWIRE_x"});
    EXPECT_FALSE(rerun.source.has_value());
    EXPECT_FALSE(rerun.installationRoot.has_value());

    const auto emptyRoot =
        parseInstallerArguments({"-installationroot", "", "-mode", "silent", "-source", ""});
    EXPECT_EQ(emptyRoot.installationRoot, "");
    EXPECT_EQ(emptyRoot.source, "");
    EXPECT_FALSE(emptyRoot.triggeredBy.has_value());
}

TEST(InstallerArguments, ValueIsTheNextElementEvenWhenItLooksLikeAnOption) {
    const auto parsed = parseInstallerArguments({"-triggeredby", "-mode", "-mode", "silent"});
    EXPECT_EQ(parsed.triggeredBy, "-mode");
    EXPECT_EQ(parsed.mode, "silent");
}

TEST(InstallerArguments, RefusesWhatItDoesNotUnderstand) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"-mode", "silent", "-quiet"}, "unknown argument \"-quiet\""},
        {{"-Mode", "silent"}, "unknown argument \"-Mode\""},
        {{"-mode", "silent", "extra"}, "unknown argument \"extra\""},
        {{}, "missing \"-mode silent\""},
        {{"-triggeredby", "TRIPWIRE_"}, "missing \"-mode silent\""},
        {{"-mode", "interactive"}, "unsupported mode \"interactive\""},
        {{"-mode", "silent", "-installationroot"}, "\"-installationroot\" needs a value"},
        {{"-mode", "silent", "-mode", "silent"}, "repeated argument \"-mode\""},
        {{"-source", "a", "-mode", "silent", "-source", "b"}, "repeated argument \"-source\""},
    };
    for (const auto& [arguments, expected] : cases) {
        try {
            parseInstallerArguments(arguments);
            ADD_FAILURE() << "accepted: " << ::testing::PrintToString(arguments);
        } catch (const ArgumentError& error) {
            EXPECT_THAT(error.what(), ::testing::HasSubstr(expected));
        }
    }
}

class InstallerLogLine : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames) {
            if (const char* value = std::getenv(name))
                saved.emplace_back(name, value);
            ::unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : kNames)
            ::unsetenv(name);
        for (const auto& [name, value] : saved)
            ::setenv(name.c_str(), value.c_str(), 1);
    }

    static constexpr const char* kNames[] = {"QB_PROXY_HOST", "QB_PROXY_PORT", "QB_PROXY_USERNAME",
                                             "QB_PROXY_PASSWORD"};
    std::vector<std::pair<std::string, std::string>> saved;
};

TEST_F(InstallerLogLine, MasksThePasswordAndShowsUnsetVariablesAsNull) {
    ::setenv("QB_PROXY_HOST", "proxy.example", 1);
    ::setenv("QB_PROXY_PASSWORD", "s3cret", 1);
    const std::string line = formatInstallerLogLine({{"-mode", "silent"}, 0, ""});
    EXPECT_EQ(line.find("s3cret"), std::string::npos);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    const auto json = nlohmann::json::parse(line);
    EXPECT_EQ(json["QB_PROXY_HOST"], "proxy.example");
    EXPECT_TRUE(json["QB_PROXY_PORT"].is_null());
    EXPECT_TRUE(json["QB_PROXY_USERNAME"].is_null());
    EXPECT_EQ(json["QB_PROXY_PASSWORD"], "***");
    EXPECT_EQ(json["arguments"], nlohmann::json({"-mode", "silent"}));
}

TEST_F(InstallerLogLine, EmptyPasswordStaysEmptyAndBadBytesDoNotBreakTheLine) {
    ::setenv("QB_PROXY_PASSWORD", "", 1);
    const std::string line =
        formatInstallerLogLine({{"-triggeredby", "TRIPWIRE_\xff\xfe", "a\nb"}, 2, "bad \"x\""});
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    const auto json = nlohmann::json::parse(line);
    EXPECT_EQ(json["QB_PROXY_PASSWORD"], "");
    EXPECT_EQ(json["arguments"][2], "a\nb");
    EXPECT_EQ(json["exitCode"], 2);
    EXPECT_EQ(json["message"], "bad \"x\"");
}

} // namespace
