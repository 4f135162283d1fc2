// The text of the download progress line: units, rate, time left and a bar that fits the width.
#include "ProgressLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace tripwire_host {
namespace {

using std::chrono::seconds;

TEST(ProgressLineFormat, BytesUseBinaryUnitsAndNeverShow1024OfAUnit) {
    EXPECT_EQ(ProgressLine::formatBytes(0), "0 B");
    EXPECT_EQ(ProgressLine::formatBytes(1023), "1023 B");
    EXPECT_EQ(ProgressLine::formatBytes(1024), "1.0 KiB");
    EXPECT_EQ(ProgressLine::formatBytes(1536), "1.5 KiB");
    EXPECT_EQ(ProgressLine::formatBytes(1024 * 1024 - 1), "1.0 MiB");
    EXPECT_EQ(ProgressLine::formatBytes(5ull * 1024 * 1024 * 1024), "5.0 GiB");
    EXPECT_EQ(ProgressLine::formatBytes(UINT64_MAX), "16384.0 PiB");
}

TEST(ProgressLineFormat, RatesAndDurations) {
    EXPECT_EQ(ProgressLine::formatRate(2.5 * 1024 * 1024), "2.5 MiB/s");
    EXPECT_EQ(ProgressLine::formatRate(0), "0 B/s");
    EXPECT_EQ(ProgressLine::formatRate(-3), "0 B/s");
    EXPECT_EQ(ProgressLine::formatRate(std::numeric_limits<double>::infinity()), "0 B/s");
    EXPECT_EQ(ProgressLine::formatDuration(seconds(0)), "0:00");
    EXPECT_EQ(ProgressLine::formatDuration(seconds(42)), "0:42");
    EXPECT_EQ(ProgressLine::formatDuration(seconds(725)), "12:05");
    EXPECT_EQ(ProgressLine::formatDuration(seconds(3723)), "1:02:03");
}

TEST(ProgressLineFormat, TimeLeftNeedsATotalAndAUsableRate) {
    EXPECT_EQ(ProgressLine::timeLeft({100, 1000, 100.0}), seconds(9));
    EXPECT_EQ(ProgressLine::timeLeft({100, 1001, 100.0}), seconds(10)); // rounded up
    EXPECT_EQ(ProgressLine::timeLeft({2000, 1000, 100.0}), seconds(0)); // more than announced
    EXPECT_EQ(ProgressLine::timeLeft({100, std::nullopt, 100.0}), std::nullopt);
    EXPECT_EQ(ProgressLine::timeLeft({100, 1000, std::nullopt}), std::nullopt);
    EXPECT_EQ(ProgressLine::timeLeft({100, 1000, 0.0}), std::nullopt);
    EXPECT_EQ(ProgressLine::timeLeft({0, UINT64_MAX, 1.0}), std::nullopt); // centuries
}

TEST(ProgressLineText, ShowsEverythingKnownWithABarFillingTheRoom) {
    const TransferSnapshot half{512 * 1024, 1024 * 1024, 256.0 * 1024};
    const std::string line = ProgressLine(80).text(half);
    EXPECT_EQ(line.rfind("512.0 KiB / 1.0 MiB  256.0 KiB/s  0:02 left  [", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 6), "]  50%") << line;
    EXPECT_EQ(line.size(), 79u);
    const auto open = line.find('[');
    const auto inner = line.find(']') - open - 1;
    EXPECT_EQ(std::count(line.begin(), line.end(), '#'), static_cast<long>(inner / 2));
}

TEST(ProgressLineText, WithoutTotalOrRateShowsOnlyWhatIsKnown) {
    EXPECT_EQ(ProgressLine(80).text({2048, std::nullopt, std::nullopt}), "2.0 KiB");
    EXPECT_EQ(ProgressLine(80).text({2048, std::nullopt, 1024.0}), "2.0 KiB  1.0 KiB/s");
    // An empty announced total gets no bar (and no division by zero).
    EXPECT_EQ(ProgressLine(80).text({0, 0, std::nullopt}), "0 B / 0 B");
}

TEST(ProgressLineText, NeverWiderThanTheWidthLessOne) {
    const TransferSnapshot snapshot{3000, 1000, 1e6}; // the server sent more than it announced
    for (std::size_t width : {0u, 1u, 10u, 30u, 40u, 45u, 60u, 200u}) {
        const std::string line = ProgressLine(width).text(snapshot);
        EXPECT_LE(line.size(), width > 0 ? width - 1 : 0) << width << ": " << line;
    }
    const std::string wide = ProgressLine(200).text(snapshot);
    EXPECT_EQ(wide.substr(wide.size() - 7), "#] 100%") << wide; // full, not beyond
    // Too narrow for a useful bar: the text alone, cut when even that does not fit.
    EXPECT_EQ(ProgressLine(50).text(snapshot), "2.9 KiB / 1000 B  976.6 KiB/s  0:00 left");
    EXPECT_EQ(ProgressLine(20).text(snapshot), "2.9 KiB / 1000 B  9");
}

} // namespace
} // namespace tripwire_host
