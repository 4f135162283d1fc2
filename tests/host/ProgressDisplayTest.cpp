// The display of an install on a terminal, driven by a hand-set clock into a string.
#include "ProgressDisplay.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <thread>
#include <vector>

namespace tripwire_host {
namespace {

using namespace std::chrono_literals;

struct ProgressDisplayTest : testing::Test {
    std::ostringstream out;
    std::chrono::steady_clock::time_point now{};
    ProgressDisplay display{out, 60, [this] {
                                return now;
                            }};

    std::string take() {
        std::string text = out.str();
        out.str({});
        return text;
    }
};

TEST_F(ProgressDisplayTest, StagesGoOnLinesOfTheirOwn) {
    display.stageEntered("Looking up the latest installer");
    display.stageEntered("Downloading the installer");
    EXPECT_EQ(take(), "Looking up the latest installer\nDownloading the installer\n");
}

TEST_F(ProgressDisplayTest, RedrawsOneLineAtMostTenTimesASecondAndClearsIt) {
    display.transferStarted();
    display.transferProgress(100, 1000);
    EXPECT_EQ(take(), "\r" + ProgressLine(60).text({100, 1000, std::nullopt}));

    now += 50ms;
    display.transferProgress(200, 1000); // too soon after the last redraw
    EXPECT_EQ(take(), "");

    now += 950ms;
    display.transferProgress(1000, 1000);
    const std::string full = ProgressLine(60).text({1000, 1000, 1000.0});
    EXPECT_EQ(take(), "\r" + full);

    display.transferFinished();
    EXPECT_EQ(take(), "\r" + std::string(full.size(), ' ') + "\r");
    display.clear();
    EXPECT_EQ(take(), "");
}

TEST_F(ProgressDisplayTest, AShorterLineOverwritesTheRestOfTheLongerOne) {
    display.transferStarted();
    now += 1s;
    display.transferProgress(2048, std::nullopt);
    const std::string longer = take().substr(1);
    now += 1s;
    display.transferProgress(0, std::nullopt); // "0 B  0 B/s", shorter
    const std::string shorter = ProgressLine(60).text({0, std::nullopt, 0.0});
    EXPECT_EQ(take(), "\r" + shorter + std::string(longer.size() - shorter.size(), ' '));
}

TEST_F(ProgressDisplayTest, AStageOrTheEndClearsAProgressLineFirst) {
    display.transferStarted();
    display.transferProgress(5, 10);
    const std::size_t drawn = take().size() - 1;
    display.stageEntered("Running the installer");
    EXPECT_EQ(take(), "\r" + std::string(drawn, ' ') + "\rRunning the installer\n");

    std::ostringstream other;
    auto shortLived = std::make_unique<ProgressDisplay>(other, 60, [this] { return now; });
    shortLived->transferProgress(5, 10); // its start unseen: still drawn
    const std::size_t shortDrawn = other.str().size() - 1;
    ASSERT_GT(shortDrawn, 0u);
    other.str({});
    shortLived.reset(); // destroyed with a line on screen: the line goes
    EXPECT_EQ(other.str(), "\r" + std::string(shortDrawn, ' ') + "\r");
}

TEST(ProgressDisplayThreads, CallsFromSeveralThreadsKeepLinesWhole) {
    std::ostringstream out;
    ProgressDisplay display(out, 60, std::chrono::steady_clock::now, 0ms);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&display, t] {
            for (std::uint64_t i = 0; i < 200; ++i) {
                if (i % 50 == 0) {
                    display.stageEntered("stage " + std::to_string(t));
                }
                display.transferProgress(i, 200);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    display.clear();
    // Every stage text arrived whole, on a line of its own.
    std::istringstream lines(out.str());
    std::string line;
    int stages = 0;
    while (std::getline(lines, line)) {
        const auto cut = line.rfind('\r');
        const std::string last = cut == std::string::npos ? line : line.substr(cut + 1);
        if (!lines.eof()) {
            EXPECT_EQ(last.rfind("stage ", 0), 0u) << last;
            ++stages;
        }
    }
    EXPECT_EQ(stages, 16);
}

} // namespace
} // namespace tripwire_host
