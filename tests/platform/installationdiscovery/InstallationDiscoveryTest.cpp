#include "halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h"
#include "halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h"

#include <fl/filesystem/path_conversion.h>
#include <foundation/log/testing/RecordCapture.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tripwire/testsupport/TempDirectory.h>

namespace halvexconnector::latestversion::installationdiscovery {
namespace {

namespace stdfs = std::filesystem;
using fl::filesystem::basic_path;
using namespace tripwire::testsupport;
using ::testing::HasSubstr;

const std::string kGood = "LatestDSInstallerVersion 2024.7.0.6\n"
                          "LatestDSInstallRoot \"/opt/qb/v2024.7.0.6\"\n"
                          "DSLauncherExecutable \"/opt/qb/v2024.7.0.6/bin/win64/Host\"\n";

std::string problemOf(std::string_view text) {
    const auto reading = parseLatestInstallInfo(text);
    EXPECT_FALSE(reading.record.has_value()) << text;
    return reading.problem;
}

TEST(LatestInstallFile, ReadsWhateverTheLayoutWritesAtomicallyAndDiscoveryMakesPathsNative) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {kGood, "/opt/qb/v2024.7.0.6", "/opt/qb/v2024.7.0.6/bin/win64/Host"},
        {"\xEF\xBB\xBF# by hand\r\n\r\nDSLauncherExecutable\t /opt/l/run \r\nSomethingNew \"x\"\r\n"
         "LatestDSInstallRoot   \"/opt/l\"\t\r\nLatestDSInstallerVersion 2024.7.0.6",
         "/opt/l", "/opt/l/run"},
        {"LatestDSInstallerVersion 2024.7.0.6\nLatestDSInstallRoot \"a\\\\b\\\"c\\d \\n\"\n"
         "DSLauncherExecutable \"single\\backslash\\\\\"\n",
         "a\\b\"c\\d \\n", "single\\backslash\\"}};
    for (const auto& [text, root, launcher] : cases) {
        const auto reading = parseLatestInstallInfo(text);
        ASSERT_TRUE(reading.record) << reading.problem;
        EXPECT_EQ(reading.record->version, "2024.7.0.6");
        EXPECT_EQ(reading.record->installRoot, root);
        EXPECT_EQ(reading.record->launcher, launcher);
    }
    // clang-format off
    const char* const badLines[] = {"LatestDSInstallRoot\n", "LatestDSInstallRoot   \t\n",
        "LatestDSInstallRoot=\"/x\"\n", "\"/x\" LatestDSInstallRoot\n", "Unknown.Key value\n",
        "LatestDSInstallRoot \"/x\n", "LatestDSInstallRoot \"/x\\\"\n",
        "LatestDSInstallRoot \"/x\" trailing\n", "LatestDSInstallRoot \"/other\"\n"};
    // clang-format on
    for (const std::string bad : badLines)
        EXPECT_THAT(problemOf(kGood + bad), HasSubstr("line 4")) << bad;
    TempDirectory scratch;
    const auto directory = scratch / "new/root";
    const LatestInstallRecord awkward{"2026.1.2.3", "/opt/with space/back\\slash/\"quoted\"",
                                      "C:\\Program Files\\x.exe"};
    writeLatestInstallFile(directory, {"1.0.0.0", "/one", "/one/x"});
    writeLatestInstallFile(directory, awkward);
    const auto text = readFile(directory / "LatestInstall.info");
    EXPECT_TRUE(text.starts_with("LatestDSInstallerVersion 2026.1.2.3\n")) << text;
    EXPECT_THAT(text, HasSubstr("DSLauncherExecutable \"C:\\\\Program Files\\\\x.exe\"\n"));
    const auto reading = readLatestInstallFile(directory);
    ASSERT_TRUE(reading.record) << reading.problem;
    EXPECT_EQ(reading.record->installRoot, awkward.installRoot);
    EXPECT_EQ(reading.record->launcher, awkward.launcher);
    EXPECT_EQ(std::distance(stdfs::directory_iterator(directory), stdfs::directory_iterator()), 1)
        << "no temporary file left behind";
    EXPECT_EQ(modeOf(directory / "LatestInstall.info"), 0644u);
    const LatestInstallRecord badRecords[] = {
        {"", "/r", "/r/x"}, {"1.0 beta", "/r", "/r/x"}, {"1", "/a\nb", "/r/x"}, {"1", "/r", ""}};
    for (const LatestInstallRecord& bad : badRecords)
        EXPECT_THROW(writeLatestInstallFile(directory, bad), std::invalid_argument) << bad.version;
    EXPECT_EQ(readFile(directory / "LatestInstall.info"), text) << "a failed write keeps the file";
    stdfs::create_directories(scratch / "dir/LatestInstall.info");
    writeFile(scratch / "big/LatestInstall.info", kGood + std::string(70000, '#'));
    for (const char* unusable : {"dir", "big"}) {
        const auto reading = readLatestInstallFile(scratch / unusable);
        EXPECT_FALSE(reading.record) << unusable;
        EXPECT_FALSE(reading.fileMissing) << unusable;
    }
    // Discovery: backslash paths become native; a bad file is no installation, logged.
    foundation::log::testing::RecordCapture log;
    const auto discover = [&scratch](const char* directory) {
        return discoverLatestHALVEXConnectorInstall(
            InstallationDiscoveryRoot::STANDARD,
            fl::filesystem::path_from_native(scratch / directory), boost::none);
    };
    writeFile(scratch / "win/LatestInstall.info",
              "LatestDSInstallerVersion 1.2.3.4\nLatestDSInstallRoot \"\\\\opt\\\\Q\"\n"
              "DSLauncherExecutable \"/opt/Q\\\\bin\\\\Host\"\n");
    writeFile(scratch / "bad/LatestInstall.info", "LatestDSInstallerVersion 2024.7.0.6\n");
    const auto info = discover("win");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->path, basic_path(u"/opt/Q", true));
    EXPECT_EQ(fl::filesystem::to_native(info->launcher), "/opt/Q/bin/Host");
    EXPECT_FALSE(discover("missing") || discover("bad"));
    const auto records = log.records(kDiscoveryLoggerName);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].severity, kMissingFileSeverity);
    EXPECT_THAT(records[1].message, HasSubstr("LatestDSInstallRoot"));
    EXPECT_EQ(records[1].severity, kInvalidFileSeverity);
    EXPECT_THROW(
        discoveryDirectory(static_cast<InstallationDiscoveryRoot>(7), boost::none, boost::none),
        std::invalid_argument);
    EXPECT_THROW(writeLatestInstallInfo(basic_path(), *info), std::invalid_argument);
}

} // namespace
} // namespace halvexconnector::latestversion::installationdiscovery
