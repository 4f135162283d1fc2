#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/configuration.h>
#include <foundation/log/testing/RecordCapture.h>
#include <foundation/log/write_record.h>
#include <gtest/gtest.h>
#include <regex>
#include <thread>
#include <tripwire/testsupport/StandardErrorCapture.h>
#include <tripwire/testsupport/TempDirectory.h>

namespace {

namespace lg = foundation::log;
using lg::testing::RecordCapture;
using namespace tripwire::testsupport;

lg::basic_diagnostic_logger<char>& moduleLogger() {
    static lg::basic_diagnostic_logger<char> logger("halvexconnector::tripwireimpl");
    return logger;
}

struct LogConfiguration : ::testing::Test {
    TempDirectory dir;
    ~LogConfiguration() override {
        ::unsetenv("QB_LOG_MASK");
        ::unsetenv("QB_LOG_FILE");
        lg::configure_from_environment();
        lg::remove_console_sink();
    }
};

TEST(LogLogger, MaskDecidesWhatIsWrittenAndNothingLeaksWhenDisabledOrWithoutSinks) {
    for (const auto& [text, mask] :
         {std::pair{"8", 8u}, {" 0x318 ", 0x318u}, {"0X7fFf", 0x7FFFu}, {"0xFFFFFFFF", ~0u}})
        EXPECT_EQ(lg::parse_severity_mask(text), mask) << text;
    for (const char* bad : {"", "  ", "0x", "-1", "+8", "8 16", "12abc", "0x1g", "1e3",
                            "4294967296", "0x100000000", "99999999999999999999999"})
        EXPECT_FALSE(lg::parse_severity_mask(bad).has_value()) << bad;
    // Written when the mask shares one of the low bits with the severity.
    const std::tuple<lg::severity_type, lg::severity_type, bool> cases[] = {
        {0x8, 8, true},        {0x8, 16, false},    {0x118, 512, false},
        {0x118, 256, true},    {0x10, 0x18, true},  {0x8000, 0x8000, false},
        {~0u, 0x10000, false}, {~0u, 0x4000, true}, {0, 8, false}};
    for (const auto& [mask, severity, written] : cases) {
        RecordCapture capture(mask);
        EXPECT_EQ(moduleLogger().is_enabled(severity), written);
        lg::write_record(moduleLogger(), severity, "m");
        EXPECT_EQ(capture.records().size(), written ? 1u : 0u)
            << std::hex << "mask 0x" << mask << " severity 0x" << severity;
    }
    {
        RecordCapture capture;
        moduleLogger().core()->set_logging_enabled(false);
        lg::write_record(moduleLogger(), 8, "dropped");
        moduleLogger().core()->set_logging_enabled(true);
        EXPECT_TRUE(capture.records().empty());
    }
    lg::set_severity_mask(0x10);
    {
        RecordCapture keeping(std::nullopt); // keeps the process's mask
        lg::write_record(moduleLogger(), 8, "masked");
        lg::write_record(moduleLogger(), 16, "kept");
        ASSERT_EQ(keeping.records().size(), 1u);
        EXPECT_EQ(keeping.records()[0].message, "kept");
    }
    lg::set_severity_mask(lg::default_severity_mask);
    // Boost.Log's fallback output for a core without sinks must not pick our records up.
    ::testing::internal::CaptureStderr();
    lg::write_record(moduleLogger(), 8, "nobody listens\n");
    lg::flush();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(LogConfiguration, MaskAndFileComeFromTheEnvironmentBadValuesOnlyWarnAndOneConsoleSink) {
    const auto file = dir / "diag.log";
    ::setenv("QB_LOG_FILE", file.c_str(), 1);
    ::setenv("QB_LOG_MASK", "8", 1);
    EXPECT_EQ(lg::configure_from_environment(), "");
    lg::basic_diagnostic_logger<char> logger("test::configuration");
    lg::write_record(logger, 8, "Install failed.\n", "Exception caught: ", "e");
    lg::write_record(logger, 16, "masked out");
    lg::flush();
    const auto lines = linesOf(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with("Z <8> test::configuration: Install failed.")) << lines[0];
    EXPECT_EQ(lines[1], "Exception caught: e"); // a message's own line breaks are kept
    ::unsetenv("QB_LOG_FILE");
    lg::configure_from_environment();
    lg::write_record(logger, 8, "not in the file");
    lg::flush();
    EXPECT_EQ(linesOf(file).size(), 2u) << "the sink went with its variable";
    ::setenv("QB_LOG_MASK", "loud", 1);
    ::setenv("QB_LOG_FILE", (dir / "missing-dir/diag.log").c_str(), 1);
    ::testing::internal::CaptureStderr();
    const std::string warnings = lg::configure_from_environment();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), warnings);
    for (const std::string part : {"QB_LOG_MASK", "\"loud\"", "missing-dir/diag.log"})
        EXPECT_NE(warnings.find(part), std::string::npos) << warnings;
    EXPECT_EQ(lg::severity_mask(), lg::default_severity_mask);
    lg::add_console_sink(); // once, whatever the number of calls
    lg::add_console_sink();
    ::testing::internal::CaptureStderr();
    lg::write_record(moduleLogger(), 512, "to the console\n");
    lg::flush();
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(occurrences(printed, "<512> halvexconnector::tripwireimpl: to the console\n"), 1u)
        << printed;
}

TEST_F(LogConfiguration, ConcurrentWritersLoseAndMixNothing) {
    RecordCapture capture;
    ASSERT_TRUE(lg::add_file_sink(dir / "concurrent.log"));
    EXPECT_FALSE(lg::add_file_sink(dir / "concurrent.log"));
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t) {
        writers.emplace_back([t] {
            lg::basic_diagnostic_logger<char> own("writer" + std::to_string(t));
            for (int i = 0; i < 300; ++i)
                lg::write_record(i % 2 ? own : moduleLogger(), i % 3 ? 512u : 8u, "thread ", t,
                                 " record ", i, "\n");
        });
    }
    for (auto& writer : writers)
        writer.join();
    lg::remove_file_sinks();
    const auto lines = linesOf(dir / "concurrent.log");
    const std::regex whole(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z <(8|512)> \S+: thread \d record \d+$)");
    ASSERT_EQ(lines.size(), 8u * 300u);
    for (const auto& line : lines)
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    ASSERT_EQ(capture.records().size(), 8u * 300u);
    for (const auto& record : capture.records()) {
        const int i = std::stoi(record.message.substr(record.message.find("record ") + 7));
        EXPECT_EQ(record.severity, i % 3 ? 512u : 8u) << record.message;
        EXPECT_EQ(record.logger.starts_with("writer"), i % 2 == 1) << record.message;
    }
}

} // namespace
