#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/configuration.h>
#include <foundation/log/write_record.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

namespace lg = foundation::log;

std::vector<std::string> lines_of(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class LogConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        directory = std::filesystem::temp_directory_path() /
                    ("qblog-test-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory);
    }
    void TearDown() override {
        ::unsetenv("QB_LOG_MASK");
        ::unsetenv("QB_LOG_FILE");
        lg::configure_from_environment();
        lg::remove_console_sink();
        std::filesystem::remove_all(directory);
    }

    std::filesystem::path directory;
    lg::basic_diagnostic_logger<char> logger{"test::configuration"};
};

TEST_F(LogConfiguration, ParsesDecimalAndHexMasksAndRejectsEverythingElse) {
    EXPECT_EQ(lg::parse_severity_mask("8"), 8u);
    EXPECT_EQ(lg::parse_severity_mask(" 0x318 "), 0x318u);
    EXPECT_EQ(lg::parse_severity_mask("0X7fFf"), 0x7FFFu);
    EXPECT_EQ(lg::parse_severity_mask("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(lg::parse_severity_mask("0xFFFFFFFF"), 0xFFFFFFFFu);
    for (const char* bad : {"", "  ", "0x", "-1", "+8", "8 16", "12abc", "0x1g", "1e3",
                            "4294967296", "0x100000000", "99999999999999999999999"}) {
        EXPECT_FALSE(lg::parse_severity_mask(bad).has_value()) << bad;
    }
}

TEST_F(LogConfiguration, MalformedMaskWarnsAndKeepsTheDefault) {
    ::setenv("QB_LOG_MASK", "0x18", 1);
    EXPECT_EQ(lg::configure_from_environment(), "");
    EXPECT_EQ(lg::severity_mask(), 0x18u);

    ::setenv("QB_LOG_MASK", "loud", 1);
    ::testing::internal::CaptureStderr();
    const std::string warnings = lg::configure_from_environment();
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, warnings);
    EXPECT_NE(warnings.find("QB_LOG_MASK"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("\"loud\""), std::string::npos) << warnings;
    EXPECT_EQ(lg::severity_mask(), lg::default_severity_mask);
    EXPECT_TRUE(logger.is_enabled(8));
}

TEST_F(LogConfiguration, LogFileReceivesOneTimestampedLinePerRecord) {
    const std::string file = (directory / "diag.log").string();
    ::setenv("QB_LOG_FILE", file.c_str(), 1);
    ::setenv("QB_LOG_MASK", "8", 1);
    EXPECT_EQ(lg::configure_from_environment(), "");

    lg::write_record(logger, 8, "Roduded Ozovizaz install failed.\n", "Exception caught: ", "e");
    lg::write_record(logger, 16, "masked out");
    lg::write_record(logger, 8, "last line\n");
    lg::flush();

    const auto lines = lines_of(file);
    ASSERT_EQ(lines.size(), 3u);
    const std::regex header(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z <8> test::configuration: )");
    EXPECT_TRUE(std::regex_search(lines[0], header)) << lines[0];
    EXPECT_NE(lines[0].find("Roduded Ozovizaz install failed."), std::string::npos);
    EXPECT_EQ(lines[1], "Exception caught: e"); // a message's own line breaks are kept
    EXPECT_TRUE(std::regex_search(lines[2], header)) << lines[2];
    EXPECT_EQ(lines[2].substr(lines[2].size() - 9), "last line");

    // Without the variable, the sink goes away again.
    ::unsetenv("QB_LOG_FILE");
    lg::configure_from_environment();
    lg::write_record(logger, 8, "not in the file");
    lg::flush();
    EXPECT_EQ(lines_of(file).size(), 3u);
}

TEST_F(LogConfiguration, UnwritableLogFileWarnsInsteadOfFailing) {
    const std::string file = (directory / "missing-dir" / "diag.log").string();
    ::setenv("QB_LOG_FILE", file.c_str(), 1);
    ::testing::internal::CaptureStderr();
    std::string warnings;
    EXPECT_NO_THROW(warnings = lg::configure_from_environment());
    ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warnings.find(file), std::string::npos) << warnings;
    EXPECT_NO_THROW(lg::write_record(logger, 8, "still fine"));
    EXPECT_THROW(lg::add_file_sink(file), std::runtime_error);
}

TEST_F(LogConfiguration, ConsoleSinkIsAddedOnceAndWritesToStandardError) {
    lg::add_console_sink();
    lg::add_console_sink();
    ::testing::internal::CaptureStderr();
    lg::write_record(logger, 512, "to the console\n");
    lg::flush();
    const std::string printed = ::testing::internal::GetCapturedStderr();
    lg::remove_console_sink();

    EXPECT_NE(printed.find("<512> test::configuration: to the console\n"), std::string::npos)
        << printed;
    EXPECT_EQ(printed.find("to the console"), printed.rfind("to the console")) << printed;
}

TEST_F(LogConfiguration, ConcurrentWritersProduceWholeLines) {
    const std::string file = (directory / "concurrent.log").string();
    ASSERT_TRUE(lg::add_file_sink(file));
    EXPECT_FALSE(lg::add_file_sink(file));
    constexpr int threads = 4;
    constexpr int per_thread = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < per_thread; ++i) {
                lg::write_record(logger, 8, "writer ", t, " line ", i, "\n");
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    lg::remove_file_sinks();

    const auto lines = lines_of(file);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * per_thread));
    const std::regex whole(R"(^\S+Z <8> test::configuration: writer \d line \d+$)");
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
}

} // namespace
