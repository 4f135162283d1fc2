#include "download/ManagedInstallRoot.h"

#include "support/ScratchSpace.h"

#include <foundation/log/testing/RecordCapture.h>

#include <gtest/gtest.h>

#include <tripwire/testsupport/StandardErrorCapture.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using tripwire::testsupport::occurrences;
using tripwire::testsupport::StandardErrorCapture;

using foundation::log::testing::RecordCapture;
using halvexconnector::tripwireimpl::managedInstallRootVariable;
using halvexconnector::tripwireimpl::reportManagedInstallRootError;
using halvexconnector::tripwireimpl::reportManagedInstallRootIfSet;
using qbtest::ScopedEnvironment;

const std::string loggerName = "halvexconnector::tripwireimpl";
const std::string placeholder = "_OVERRIDEN_PATH_PLACEHOLDER_";

// The notice as the user must see it, one line each; every line ends with a line feed.
const std::vector<std::string> noticeLines = {
    "",
    "",
    "Error in the defined QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT.",
    "_OVERRIDEN_PATH_PLACEHOLDER_ does not contain a LatestInstall.info file or it is missing the "
    "required fields.",
    "Make sure that the file exists and that it contains the following fields:",
    "- LatestDSInstallerVersion: The version of service host",
    "- LatestDSInstallRoot: The path to the installation directory",
    "- DSLauncherExecutable: The path to the executable of QuillbeckServiceHost",
    "Note that double backslash character should be used as separator for Windows paths",
    "An example file is:",
    R"(  LatestDSInstallerVersion 2024.7.0.6)",
    R"(  LatestDSInstallRoot "C:\\Program Files\\Quillbeck\\ServiceHost\\v2024.7.0.6")",
    R"(  DSLauncherExecutable "C:\\Program Files\\Quillbeck\\ServiceHost\\v2024.7.0.6\\bin\\win64\\QuillbeckServiceHost.exe")",
    "",
};

std::string expectedNotice(const std::string& value) {
    std::string text;
    for (const auto& line : noticeLines) {
        text += line + "\n";
    }
    text.replace(text.find(placeholder), placeholder.size(), value);
    return text + "\n"; // std::endl
}

TEST(ManagedInstallRootNotice, IsWrittenByteForByteWithThreeFinalLineFeedsAndOneRecord) {
    RecordCapture records;
    StandardErrorCapture standardError;
    const std::string value = "/srv/managed/service host";
    reportManagedInstallRootError(u"/srv/managed/service host");

    const std::string written = standardError.text();
    EXPECT_EQ(written, expectedNotice(value));
    EXPECT_EQ(written.size(), 784u + value.size() - 28u + 1u);
    ASSERT_GE(written.size(), 5u);
    EXPECT_EQ(written.substr(written.size() - 5), "e\"\n\n\n");

    const auto logged = records.records(loggerName);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].severity, 512u);
    EXPECT_EQ(logged[0].message,
              "QUILLBECK_SERVICE_HOST_MANAGED_INSTALL_ROOT is set incorrectly.\n" + value +
                  " does not contain a LatestInstall.info file or the file is misformed ");
}

TEST(ManagedInstallRootNotice, AValueHoldingThePlaceholderIsInsertedOnceAndNotSearchedAgain) {
    StandardErrorCapture standardError;
    reportManagedInstallRootError(u"/a/_OVERRIDEN_PATH_PLACEHOLDER_/b");
    const std::string written = standardError.text();
    EXPECT_EQ(written, expectedNotice("/a/_OVERRIDEN_PATH_PLACEHOLDER_/b"));
    EXPECT_EQ(occurrences(written, placeholder), 1u);
}

TEST(ManagedInstallRootNotice, ANonAsciiValueReachesNoticeAndRecordAsUtf8) {
    RecordCapture records;
    StandardErrorCapture standardError;
    // U+00DC, U+8DEF U+5F84 and U+1F4C1 (a surrogate pair in UTF-16).
    reportManagedInstallRootError(u"/d/\u00dcber/\u8def\u5f84/\U0001F4C1");
    const std::string utf8 = "/d/\xc3\x9c"
                             "ber/\xe8\xb7\xaf\xe5\xbe\x84/\xf0\x9f\x93\x81";
    EXPECT_EQ(standardError.text(), expectedNotice(utf8));
    ASSERT_EQ(records.records(loggerName).size(), 1u);
    EXPECT_NE(records.records(loggerName)[0].message.find(utf8), std::string::npos);
}

TEST(ManagedInstallRootNotice, AMaskWithoutTheBitKeepsTheRecordButNotTheNotice) {
    RecordCapture records(foundation::log::severity_type{8});
    StandardErrorCapture standardError;
    reportManagedInstallRootError(u"/x");
    EXPECT_EQ(standardError.text(), expectedNotice("/x"));
    EXPECT_TRUE(records.records(loggerName).empty());
}

TEST(ManagedInstallRootCheck, AnUnsetOrEmptyVariableLetsTheInstallGoOnSilently) {
    RecordCapture records;
    StandardErrorCapture standardError;
    {
        ScopedEnvironment unset(managedInstallRootVariable, std::nullopt);
        EXPECT_FALSE(reportManagedInstallRootIfSet());
    }
    {
        ScopedEnvironment empty(managedInstallRootVariable, std::string());
        EXPECT_FALSE(reportManagedInstallRootIfSet());
    }
    EXPECT_EQ(standardError.text(), "");
    EXPECT_TRUE(records.records(loggerName).empty());
}

// Once per process: observed in a fresh process (a re-executed test binary), where the once
// flag starts unset. The child's exit code carries the verdict.
constexpr int onceChildOk = 0;
constexpr int noticeNotOnce = 3;
constexpr int callNotRefused = 4;
constexpr int failedNoticeNotRetried = 5;

// A stream buffer that accepts nothing, so a stream writing to it fails.
class FailingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

int noticeOncePerProcessAcrossThreads() {
    ScopedEnvironment set(managedInstallRootVariable, std::string("/first/value"));
    std::ostringstream captured;
    std::streambuf* previous = std::cerr.rdbuf(captured.rdbuf());

    // A first attempt whose writing fails leaves the notice to a later call.
    FailingBuffer failing;
    std::cerr.rdbuf(&failing);
    std::cerr.exceptions(std::ios::badbit);
    bool threw = false;
    try {
        reportManagedInstallRootIfSet();
    } catch (const std::ios::failure&) {
        threw = true;
    }
    std::cerr.exceptions(std::ios::goodbit);
    std::cerr.rdbuf(captured.rdbuf());

    std::atomic<int> refused{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t) {
        callers.emplace_back([&refused] {
            for (int call = 0; call < 3; ++call) {
                refused += reportManagedInstallRootIfSet() ? 1 : 0;
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    // A changed value changes nothing that is shown.
    ::setenv(managedInstallRootVariable, "/second/value", 1);
    refused += reportManagedInstallRootIfSet() ? 1 : 0;
    std::cerr.rdbuf(previous);
    if (!threw) {
        return failedNoticeNotRetried;
    }
    if (refused != 25) {
        return callNotRefused;
    }
    const std::string text = captured.str();
    return text == expectedNotice("/first/value") ? onceChildOk : noticeNotOnce;
}

TEST(ManagedInstallRootCheck, TheNoticeAppearsOncePerProcessAcrossThreadsAndAfterAFailedWrite) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(noticeOncePerProcessAcrossThreads()), ::testing::ExitedWithCode(0), "");
}

} // namespace
