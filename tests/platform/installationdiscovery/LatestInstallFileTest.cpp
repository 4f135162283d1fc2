#include "halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h"

#include "support/ScratchSpace.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace halvexconnector::latestversion::installationdiscovery {
namespace {

using qbtest::TempDirectory;

const char* const kGood =
    "LatestDSInstallerVersion 2024.7.0.6\n"
    "LatestDSInstallRoot \"/opt/qb/v2024.7.0.6\"\n"
    "DSLauncherExecutable \"/opt/qb/v2024.7.0.6/bin/win64/QuillbeckServiceHost\"\n";

LatestInstallRecord parsed(std::string_view text) {
    const auto reading = parseLatestInstallInfo(text);
    if (!reading.record)
        throw std::runtime_error("not parsed: " + reading.problem);
    return *reading.record;
}

std::string problemOf(std::string_view text) {
    const auto reading = parseLatestInstallInfo(text);
    EXPECT_FALSE(reading.record.has_value()) << text;
    EXPECT_FALSE(reading.problem.empty());
    return reading.problem;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(LatestInstallFileParse, ReadsTheThreeFields) {
    const auto record = parsed(kGood);
    EXPECT_EQ(record.version, "2024.7.0.6");
    EXPECT_EQ(record.installRoot, "/opt/qb/v2024.7.0.6");
    EXPECT_EQ(record.launcher, "/opt/qb/v2024.7.0.6/bin/win64/QuillbeckServiceHost");
}

TEST(LatestInstallFileParse, ReadsTheNoticeExampleWithDoubledBackslashes) {
    const auto record = parsed(
        "  LatestDSInstallerVersion 2024.7.0.6\n"
        "  LatestDSInstallRoot \"C:\\\\Program Files\\\\Quillbeck\\\\ServiceHost\\\\v2024.7.0.6\"\n"
        "  DSLauncherExecutable \"C:\\\\Program Files\\\\Quillbeck\\\\ServiceHost\\\\v2024.7.0.6"
        "\\\\bin\\\\win64\\\\QuillbeckServiceHost.exe\"\n");
    EXPECT_EQ(record.installRoot, "C:\\Program Files\\Quillbeck\\ServiceHost\\v2024.7.0.6");
    EXPECT_EQ(record.launcher, "C:\\Program Files\\Quillbeck\\ServiceHost\\v2024.7.0.6\\bin\\win64"
                               "\\QuillbeckServiceHost.exe");
}

TEST(LatestInstallFileParse, ToleratesLayoutVariations) {
    // CR LF, a byte-order mark, blank and comment lines, extra blanks and tabs, unknown keys,
    // fields in any order, an unquoted path, no final line feed.
    const auto record = parsed("\xEF\xBB\xBF# written by hand\r\n"
                               "\r\n"
                               "DSLauncherExecutable\t /opt/l/run \r\n"
                               "SomethingNew \"ignored\"\r\n"
                               "LatestDSInstallRoot   \"/opt/l\"\t\r\n"
                               "LatestDSInstallerVersion 1.2.3.4");
    EXPECT_EQ(record.version, "1.2.3.4");
    EXPECT_EQ(record.installRoot, "/opt/l");
    EXPECT_EQ(record.launcher, "/opt/l/run");
}

TEST(LatestInstallFileParse, QuotedValuesUnescapeOnlyBackslashAndQuote) {
    const auto record = parsed("LatestDSInstallerVersion 1.0.0.0\n"
                               "LatestDSInstallRoot \"a\\\\b\\\"c\\d \\n\"\n"
                               "DSLauncherExecutable \"single\\backslash\\\\\"\n");
    EXPECT_EQ(record.installRoot, "a\\b\"c\\d \\n");
    EXPECT_EQ(record.launcher, "single\\backslash\\");
}

TEST(LatestInstallFileParse, MissingOrEmptyFieldsMeanNoInstallation) {
    EXPECT_NE(problemOf("").find("LatestDSInstallerVersion"), std::string::npos);
    EXPECT_NE(problemOf("LatestDSInstallerVersion 1.0.0.0\nLatestDSInstallRoot \"/r\"\n")
                  .find("DSLauncherExecutable"),
              std::string::npos);
    EXPECT_NE(problemOf("LatestDSInstallerVersion 1.0.0.0\nLatestDSInstallRoot \"\"\n"
                        "DSLauncherExecutable \"/r/x\"\n")
                  .find("LatestDSInstallRoot"),
              std::string::npos);
}

TEST(LatestInstallFileParse, MalformedLinesMeanNoInstallation) {
    const std::string good(kGood);
    for (const std::string bad : {
             "LatestDSInstallRoot\n",                 // key without value
             "LatestDSInstallRoot   \t\n",            // blanks only
             "LatestDSInstallRoot=\"/x\"\n",          // no blank after the key
             "\"/x\" LatestDSInstallRoot\n",          // no key
             "LatestDSInstallRoot \"/x\n",            // unterminated quote
             "LatestDSInstallRoot \"/x\\\"\n",        // escaped closing quote
             "LatestDSInstallRoot \"/x\" trailing\n", // text after the value
             "LatestDSInstallRoot \"/other\"\n",      // a required key twice
             "Unknown.Key value\n",                   // not a key at all
         }) {
        const auto problem = problemOf(good + bad);
        EXPECT_NE(problem.find("line 4"), std::string::npos) << bad << ": " << problem;
    }
}

TEST(LatestInstallFileFormat, RoundTripsAwkwardPaths) {
    const LatestInstallRecord record{"2026.1.2.3", "/opt/with space/back\\slash/\"quoted\"",
                                     "C:\\Program Files\\x.exe"};
    const std::string text = formatLatestInstallInfo(record);
    EXPECT_EQ(text.substr(0, text.find('\n')), "LatestDSInstallerVersion 2026.1.2.3");
    EXPECT_NE(text.find("DSLauncherExecutable \"C:\\\\Program Files\\\\x.exe\"\n"),
              std::string::npos);
    const auto back = parsed(text);
    EXPECT_EQ(back.version, record.version);
    EXPECT_EQ(back.installRoot, record.installRoot);
    EXPECT_EQ(back.launcher, record.launcher);
}

TEST(LatestInstallFileFormat, RejectsFieldsTheFormatCannotCarry) {
    for (const LatestInstallRecord& bad :
         std::vector<LatestInstallRecord>{{"", "/r", "/r/x"},
                                          {"1.0 beta", "/r", "/r/x"},
                                          {"1.0.0.0", "/a\nb", "/r/x"},
                                          {"1.0.0.0", "/r", ""}})
        EXPECT_THROW(formatLatestInstallInfo(bad), std::invalid_argument) << bad.version;
}

TEST(LatestInstallFileIo, MissingFileIsReportedAsMissing) {
    TempDirectory scratch;
    const auto reading = readLatestInstallFile(scratch / "nowhere");
    EXPECT_FALSE(reading.record);
    EXPECT_TRUE(reading.fileMissing);
    EXPECT_NE(reading.problem.find("LatestInstall.info"), std::string::npos);
}

TEST(LatestInstallFileIo, UnusableFilesAreInvalidNotMissing) {
    TempDirectory scratch;
    std::filesystem::create_directories(scratch / "dir" / "LatestInstall.info");
    EXPECT_FALSE(readLatestInstallFile(scratch / "dir").fileMissing);
    std::filesystem::create_directories(scratch / "big");
    std::ofstream(scratch / "big" / "LatestInstall.info") << kGood << std::string(70000, '#');
    const auto big = readLatestInstallFile(scratch / "big");
    EXPECT_FALSE(big.record);
    EXPECT_FALSE(big.fileMissing);
}

TEST(LatestInstallFileIo, WriteCreatesTheDirectoryAndReplacesAtomically) {
    TempDirectory scratch;
    const auto directory = scratch / "new" / "root";
    writeLatestInstallFile(directory, {"1.0.0.0", "/one", "/one/x"});
    writeLatestInstallFile(directory, {"2.0.0.0", "/two", "/two/x"});
    const auto reading = readLatestInstallFile(directory);
    ASSERT_TRUE(reading.record) << reading.problem;
    EXPECT_EQ(reading.record->version, "2.0.0.0");
    // Only the file itself is left: no temporary files behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory),
                            std::filesystem::directory_iterator()),
              1);
    struct stat info {};
    ASSERT_EQ(::stat((directory / "LatestInstall.info").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(LatestInstallFileIo, FailedWriteLeavesTheOldFile) {
    TempDirectory scratch;
    writeLatestInstallFile(scratch.path(), {"1.0.0.0", "/one", "/one/x"});
    const auto before = readFile(scratch / "LatestInstall.info");
    EXPECT_THROW(writeLatestInstallFile(scratch.path(), {"2.0.0.0", "/t\nwo", "/two/x"}),
                 std::invalid_argument);
    if (::geteuid() != 0) {
        std::filesystem::permissions(scratch.path(), std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
        EXPECT_THROW(writeLatestInstallFile(scratch.path(), {"3.0.0.0", "/three", "/three/x"}),
                     std::system_error);
        std::filesystem::permissions(scratch.path(), std::filesystem::perms::owner_all);
    }
    EXPECT_EQ(readFile(scratch / "LatestInstall.info"), before);
}

} // namespace
} // namespace halvexconnector::latestversion::installationdiscovery
