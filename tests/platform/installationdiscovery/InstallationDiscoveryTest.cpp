#include "halvexconnector/latestversion/installationdiscovery/InstallationDiscovery.h"

#include "support/ScratchSpace.h"

#include <fl/filesystem/path_conversion.h>
#include <foundation/log/testing/RecordCapture.h>

#include <gtest/gtest.h>

#include <fstream>

namespace halvexconnector::latestversion::installationdiscovery {
namespace {

using fl::filesystem::basic_path;
using qbtest::ScopedEnvironment;
using qbtest::TempDirectory;

basic_path toPath(const std::filesystem::path& native) {
    return fl::filesystem::path_from_native(native);
}

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

struct InstallationDiscoveryTest : ::testing::Test {
    TempDirectory scratch;
    ScopedEnvironment home{"HOME", (scratch / "home").string()};
    ScopedEnvironment dataHome{"XDG_DATA_HOME", (scratch / "data").string()};
    foundation::log::testing::RecordCapture log;

    std::filesystem::path standardRoot() const {
        return scratch / "data/Quillbeck/RodudedOzovizaz";
    }
    std::filesystem::path driveRoot() const { return scratch / "data/Quillbeck/Drive"; }

    std::vector<foundation::log::testing::CapturedRecord> discoveryRecords() const {
        return log.records(kDiscoveryLoggerName);
    }
};

TEST_F(InstallationDiscoveryTest, DiscoveryDirectoryFollowsTheFirstOverrideOnly) {
    EXPECT_EQ(discoveryDirectory(InstallationDiscoveryRoot::STANDARD, boost::none, boost::none),
              toPath(standardRoot()));
    EXPECT_EQ(discoveryDirectory(InstallationDiscoveryRoot::DRIVE, boost::none, boost::none),
              toPath(driveRoot()));
    const basic_path first(u"/over/first", true), second(u"/over/second", true);
    for (auto root : {InstallationDiscoveryRoot::STANDARD, InstallationDiscoveryRoot::DRIVE}) {
        EXPECT_EQ(discoveryDirectory(root, first, second), first);
        EXPECT_EQ(discoveryDirectory(root, boost::none, second),
                  discoveryDirectory(root, boost::none, boost::none));
        EXPECT_EQ(discoveryDirectory(root, basic_path(), boost::none),
                  discoveryDirectory(root, boost::none, boost::none));
    }
    EXPECT_THROW(discoveryDirectory(static_cast<InstallationDiscoveryRoot>(7), first, boost::none),
                 std::invalid_argument);
}

TEST_F(InstallationDiscoveryTest, DiscoversTheInstallationOfEachRoot) {
    writeText(standardRoot() / "LatestInstall.info",
              "LatestDSInstallerVersion 2024.7.0.6\n"
              "LatestDSInstallRoot \"/opt/std\"\n"
              "DSLauncherExecutable \"/opt/std/bin/host\"\n");
    writeText(driveRoot() / "LatestInstall.info", "LatestDSInstallerVersion 9.9.9.9\n"
                                                  "LatestDSInstallRoot \"/opt/drive\"\n"
                                                  "DSLauncherExecutable \"/opt/drive/run\"\n");
    const auto standard = discoverLatestHALVEXConnectorInstall(InstallationDiscoveryRoot::STANDARD,
                                                               boost::none, boost::none);
    ASSERT_TRUE(standard);
    EXPECT_EQ(standard->path, basic_path(u"/opt/std", true));
    EXPECT_EQ(standard->launcher, basic_path(u"/opt/std/bin/host", true));
    EXPECT_EQ(standard->version, "2024.7.0.6");
    const auto drive = discoverLatestHALVEXConnectorInstall(InstallationDiscoveryRoot::DRIVE,
                                                            boost::none, boost::none);
    ASSERT_TRUE(drive);
    EXPECT_EQ(drive->version, "9.9.9.9");
    EXPECT_TRUE(discoveryRecords().empty());
}

TEST_F(InstallationDiscoveryTest, BackslashPathsBecomeNativePaths) {
    const auto overrideDir = scratch / "override";
    writeText(overrideDir / "LatestInstall.info",
              "LatestDSInstallerVersion 1.2.3.4\n"
              "LatestDSInstallRoot \"\\\\opt\\\\Quillbeck\\\\v1.2.3.4\"\n"
              "DSLauncherExecutable \"/opt/Quillbeck\\\\v1.2.3.4/bin\\\\win64\\\\Host\"\n");
    const auto info = discoverLatestHALVEXConnectorInstall(InstallationDiscoveryRoot::STANDARD,
                                                           toPath(overrideDir), boost::none);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->path, basic_path(u"/opt/Quillbeck/v1.2.3.4", true));
    EXPECT_EQ(fl::filesystem::to_native(info->launcher),
              std::filesystem::path("/opt/Quillbeck/v1.2.3.4/bin/win64/Host"));
}

TEST_F(InstallationDiscoveryTest, MissingFileIsNoInstallationAndLoggedQuietly) {
    EXPECT_FALSE(discoverLatestHALVEXConnectorInstall(InstallationDiscoveryRoot::STANDARD,
                                                      boost::none, boost::none));
    const auto records = discoveryRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, kMissingFileSeverity);
    EXPECT_NE(records[0].message.find(standardRoot().string()), std::string::npos);
}

TEST_F(InstallationDiscoveryTest, InvalidFileIsNoInstallationAndTheReasonIsLogged) {
    writeText(standardRoot() / "LatestInstall.info", "LatestDSInstallerVersion 2024.7.0.6\n"
                                                     "LatestDSInstallRoot \"/opt/std\"\n");
    EXPECT_FALSE(discoverLatestHALVEXConnectorInstall(InstallationDiscoveryRoot::STANDARD,
                                                      boost::none, boost::none));
    writeText(standardRoot() / "LatestInstall.info", "LatestDSInstallerVersion\n");
    EXPECT_FALSE(discoverLatestHALVEXConnectorInstall(InstallationDiscoveryRoot::STANDARD,
                                                      boost::none, boost::none));
    const auto records = discoveryRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].severity, kInvalidFileSeverity);
    EXPECT_NE(records[0].message.find("DSLauncherExecutable"), std::string::npos);
    EXPECT_NE(records[1].message.find("line 1"), std::string::npos);
}

TEST_F(InstallationDiscoveryTest, WrittenInfoIsDiscoveredAsWritten) {
    const HXCInstallationInfo written{basic_path(u"/opt/Quillbeck/v2026.1.0.0", true),
                                      basic_path(u"/opt/Quillbeck/v2026.1.0.0/bin/Host", true),
                                      "2026.1.0.0"};
    writeLatestInstallInfo(toPath(standardRoot()), written);
    const auto found = discoverLatestHALVEXConnectorInstall(InstallationDiscoveryRoot::STANDARD,
                                                            boost::none, boost::none);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, written.path);
    EXPECT_EQ(found->launcher, written.launcher);
    EXPECT_EQ(found->version, written.version);
    EXPECT_THROW(writeLatestInstallInfo(basic_path(), written), std::invalid_argument);
}

} // namespace
} // namespace halvexconnector::latestversion::installationdiscovery
