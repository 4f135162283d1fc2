// The download progress line (units, rate, time left, a bar that fits the width) and its display
// on a terminal, driven by a hand-set clock into a string.
#include "ProgressDisplay.h"
#include "ProgressLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <thread>

namespace tripwire_host {
namespace {

using namespace std::chrono_literals;
using std::chrono::seconds;

TEST(ProgressLine, FormatsBytesRatesDurationsAndTimeLeft) {
    // clang-format off
    const std::pair<std::uint64_t, const char*> bytes[] = {
        {0, "0 B"}, {1023, "1023 B"}, {1024, "1.0 KiB"}, {1536, "1.5 KiB"},
        {1024 * 1024 - 1, "1.0 MiB"}, {5ull << 30, "5.0 GiB"}, {UINT64_MAX, "16384.0 PiB"}};
    // clang-format on
    for (const auto& [count, text] : bytes)
        EXPECT_EQ(ProgressLine::formatBytes(count), text);
    const std::pair<double, const char*> rates[] = {
        {2.5 * 1024 * 1024, "2.5 MiB/s"}, {0, "0 B/s"}, {-3, "0 B/s"}, {HUGE_VAL, "0 B/s"}};
    for (const auto& [rate, text] : rates)
        EXPECT_EQ(ProgressLine::formatRate(rate), text);
    const std::pair<int, const char*> durations[] = {
        {0, "0:00"}, {42, "0:42"}, {725, "12:05"}, {3723, "1:02:03"}};
    for (const auto& [duration, text] : durations)
        EXPECT_EQ(ProgressLine::formatDuration(seconds(duration)), text);
    const std::pair<TransferSnapshot, std::optional<seconds>> left[] = {
        {{100, 1000, 100.0}, seconds(9)},          {{100, 1001, 100.0}, seconds(10)},
        {{2000, 1000, 100.0}, seconds(0)},         {{100, std::nullopt, 100.0}, std::nullopt},
        {{100, 1000, std::nullopt}, std::nullopt}, {{100, 1000, 0.0}, std::nullopt},
        {{0, UINT64_MAX, 1.0}, std::nullopt}};
    for (const auto& [snapshot, expected] : left)
        EXPECT_EQ(ProgressLine::timeLeft(snapshot), expected) << snapshot.received;
}

TEST(ProgressLine, ShowsWhatIsKnownWithABarThatFitsTheWidth) {
    const std::string line = ProgressLine(80).text({512 * 1024, 1024 * 1024, 256.0 * 1024});
    EXPECT_EQ(line.rfind("512.0 KiB / 1.0 MiB  256.0 KiB/s  0:02 left  [", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 6), "]  50%");
    EXPECT_EQ(line.size(), 79u);
    EXPECT_EQ(std::count(line.begin(), line.end(), '#'),
              static_cast<long>((line.find(']') - line.find('[') - 1) / 2));
    EXPECT_EQ(ProgressLine(80).text({2048, std::nullopt, 1024.0}), "2.0 KiB  1.0 KiB/s");
    EXPECT_EQ(ProgressLine(80).text({0, 0, std::nullopt}), "0 B / 0 B");
    const TransferSnapshot over{3000, 1000, 1e6}; // more than announced
    for (std::size_t width : {0u, 1u, 10u, 30u, 40u, 45u, 60u, 200u})
        EXPECT_LE(ProgressLine(width).text(over).size(), width > 0 ? width - 1 : 0) << width;
    EXPECT_EQ(ProgressLine(200).text(over).substr(ProgressLine(200).text(over).size() - 7),
              "#] 100%");
    EXPECT_EQ(ProgressLine(50).text(over), "2.9 KiB / 1000 B  976.6 KiB/s  0:00 left");
    EXPECT_EQ(ProgressLine(20).text(over), "2.9 KiB / 1000 B  9");
}

struct Display : testing::Test {
    std::string take() {
        std::string text = out.str();
        out.str({});
        return text;
    }
    std::ostringstream out;
    std::chrono::steady_clock::time_point now{};
    std::unique_ptr<ProgressDisplay> display =
        std::make_unique<ProgressDisplay>(out, 60, [this] { return now; });
};

TEST_F(Display, RedrawsOneLineAtMostTenTimesASecondAndClearsItForAStageOrTheEnd) {
    display->stageEntered("Looking up the latest installer");
    EXPECT_EQ(take(), "Looking up the latest installer\n");
    display->transferStarted();
    display->transferProgress(100, 1000);
    EXPECT_EQ(take(), "\r" + ProgressLine(60).text({100, 1000, std::nullopt}));
    now += 50ms;
    display->transferProgress(200, 1000);
    EXPECT_EQ(take(), "") << "too soon after the last redraw";
    now += 950ms;
    display->transferProgress(2048, std::nullopt);
    const std::string longer = take().substr(1);
    now += 1s;
    display->transferProgress(0, std::nullopt);
    const std::string shorter = ProgressLine(60).text({0, std::nullopt, 0.0});
    EXPECT_EQ(take(), "\r" + shorter + std::string(longer.size() - shorter.size(), ' '));
    display->stageEntered("Running the installer");
    EXPECT_EQ(take(), "\r" + std::string(longer.size(), ' ') + "\rRunning the installer\n");
    display = std::make_unique<ProgressDisplay>(out, 60, [this] { return now; });
    display->transferProgress(5, 10); // its start unseen: still drawn
    const std::size_t drawn = take().size() - 1;
    display.reset();
    EXPECT_EQ(take(), "\r" + std::string(drawn, ' ') + "\r") << "the line goes with the display";
}

TEST(DisplayThreads, CallsFromSeveralThreadsKeepLinesWhole) {
    std::ostringstream out;
    ProgressDisplay display(out, 60, std::chrono::steady_clock::now, 0ms);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&display, t] {
                for (std::uint64_t i = 0; i < 200; ++i) {
                    if (i % 50 == 0)
                        display.stageEntered("stage " + std::to_string(t));
                    display.transferProgress(i, 200);
                }
            });
    }
    display.clear();
    std::istringstream lines(out.str());
    int stages = 0;
    for (std::string line; std::getline(lines, line);) {
        if (!lines.eof()) {
            EXPECT_EQ(line.substr(line.rfind('\r') + 1).rfind("stage ", 0), 0u) << line;
            ++stages;
        }
    }
    EXPECT_EQ(stages, 16);
}

} // namespace
} // namespace tripwire_host
