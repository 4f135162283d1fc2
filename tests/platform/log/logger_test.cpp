#include <foundation/log/basic_diagnostic_logger.h>
#include <foundation/log/configuration.h>
#include <foundation/log/testing/RecordCapture.h>
#include <foundation/log/write_record.h>

#include <boost/log/sources/record_ostream.hpp>
#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

namespace {

namespace lg = foundation::log;
using lg::testing::RecordCapture;

lg::basic_diagnostic_logger<char>& module_logger() {
    static lg::basic_diagnostic_logger<char> logger("halvexconnector::tripwireimpl");
    return logger;
}

TEST(LogLogger, WritesOnlyWhenTheMaskSharesALowBitWithTheSeverity) {
    struct Case {
        lg::severity_type mask;
        lg::severity_type severity;
        bool written;
    };
    const Case cases[] = {
        {0x8, 8, true},
        {0x8, 16, false},
        {0x118, 512, false},
        {0x118, 256, true},
        {0x10, 0x18, true},
        {0x8000, 0x8000, false},
        {0xFFFFFFFF, 0x10000, false},
        {0xFFFFFFFF, 0x4000, true},
        {0, 8, false},
    };
    for (const auto& c : cases) {
        RecordCapture capture(c.mask);
        EXPECT_EQ(module_logger().is_enabled(c.severity), c.written);
        lg::write_record(module_logger(), c.severity, "m");
        EXPECT_EQ(capture.records().size(), c.written ? 1u : 0u)
            << std::hex << "mask 0x" << c.mask << " severity 0x" << c.severity;
    }
}

TEST(LogLogger, RecordsCarryTheMessagePartsSeverityAndLoggerName) {
    RecordCapture capture;
    lg::basic_diagnostic_logger<char> other("foundation::other");
    lg::write_record(module_logger(), 8,
                     "Roduded Ozovizaz install failed to remove temp directory.\n",
                     "Exception caught: ", std::string("details"), ' ', 42);
    lg::write_record(other, 512, "second");

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message,
              "Roduded Ozovizaz install failed to remove temp directory.\nException caught: "
              "details 42");
    EXPECT_EQ(records[0].severity, 8u);
    EXPECT_EQ(records[0].logger, "halvexconnector::tripwireimpl");
    EXPECT_EQ(capture.records("foundation::other").size(), 1u);
    EXPECT_EQ(capture.records("foundation::other")[0].severity, 512u);
    EXPECT_EQ(capture.count_containing("Exception caught: "), 1u);
    capture.clear();
    EXPECT_TRUE(capture.records().empty());
}

TEST(LogLogger, EachOpenedRecordKeepsTheSeverityItWasOpenedWith) {
    RecordCapture capture;
    auto& logger = module_logger();
    ASSERT_TRUE(logger.core()->get_logging_enabled());

    boost::log::record first;
    boost::log::record second;
    {
        std::lock_guard<lg::basic_diagnostic_logger<char>::mutex_type> lock(logger.get_mutex());
        first = logger.open_record_unlocked(16);
    }
    {
        std::lock_guard<lg::basic_diagnostic_logger<char>::mutex_type> lock(logger.get_mutex());
        second = logger.open_record_unlocked(256);
    }
    ASSERT_TRUE(first && second);
    {
        boost::log::record_ostream strm(second);
        strm << "Launching installer failed.";
        strm.flush();
    }
    logger.push_record(std::move(second));
    {
        boost::log::record_ostream strm(first);
        strm << "Exception caught: "
             << "x";
        strm.flush();
    }
    logger.core()->push_record(std::move(first));

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].severity, 256u);
    EXPECT_EQ(records[1].severity, 16u);
    EXPECT_EQ(records[1].message, "Exception caught: x");
}

TEST(LogLogger, NothingIsWrittenWhileTheCoreIsDisabledOrWithoutAMatchingCapture) {
    RecordCapture capture;
    module_logger().core()->set_logging_enabled(false);
    lg::write_record(module_logger(), 8, "dropped");
    module_logger().core()->set_logging_enabled(true);
    EXPECT_TRUE(capture.records().empty());

    // A capture that keeps the mask honours it.
    lg::set_severity_mask(0x10);
    {
        RecordCapture keeping(std::nullopt);
        lg::write_record(module_logger(), 8, "masked");
        lg::write_record(module_logger(), 16, "kept");
        ASSERT_EQ(keeping.records().size(), 1u);
        EXPECT_EQ(keeping.records()[0].message, "kept");
    }
    lg::set_severity_mask(lg::default_severity_mask);
}

TEST(LogLogger, WithoutSinksNothingReachesStandardError) {
    // Boost.Log's fallback output for a core without sinks must not pick our records up.
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    lg::write_record(module_logger(), 8, "nobody listens\n");
    lg::flush();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(LogLogger, ConcurrentWritersLoseAndMixNothing) {
    RecordCapture capture;
    constexpr int threads = 8;
    constexpr int per_thread = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t] {
            lg::basic_diagnostic_logger<char> own("writer" + std::to_string(t));
            for (int i = 0; i < per_thread; ++i) {
                auto& logger = (i % 2 == 0) ? module_logger() : own;
                lg::write_record(logger, (i % 3 == 0) ? 8u : 512u, "thread ", t, " record ", i,
                                 "\n");
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    const auto records = capture.records();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(threads * per_thread));
    std::map<std::string, int> seen;
    for (const auto& record : records) {
        ++seen[record.message];
        const int i = std::stoi(record.message.substr(record.message.find("record ") + 7));
        EXPECT_EQ(record.severity, (i % 3 == 0) ? 8u : 512u) << record.message;
        const bool own = (i % 2 != 0);
        if (!own) {
            EXPECT_EQ(record.logger, "halvexconnector::tripwireimpl");
        } else {
            EXPECT_EQ(record.logger.rfind("writer", 0), 0u);
        }
    }
    EXPECT_EQ(seen.size(), records.size()); // every message distinct and intact
}

} // namespace
