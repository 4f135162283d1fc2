#include "DataPtrCalls.h"
#include "TelemetryTestSupport.h"

#include "Constants.h"
#include "telemetry/FeatureFlag.h"
#include "telemetry/InstallResultEvent.h"
#include "telemetry/StartupTimingEvent.h"

#include <foundation/feature/management/process/DataPtr.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace halvexconnector::tripwireimpl::test {
namespace {

using Flag = foundation::feature::Feature<foundation::feature::booleanFeatureKind>;
using foundation::feature::management::process::getDataPtr;

// Compiles only while the flag class can be constant-initialised.
constinit Flag probeFlag{"TelemetryProbeFlag"};

using ModuleFlagTest = TelemetryTest;

TEST_F(ModuleFlagTest, LooksItsRecordUpOnFirstUseAndKeepsIt) {
    EXPECT_EQ(probeFlag.getKind(), 0);
    EXPECT_EQ(probeFlag.getName(), "TelemetryProbeFlag");
    EXPECT_EQ(dataPtrCalls("TelemetryProbeFlag"), 0);

    EXPECT_FALSE(probeFlag);
    setFlags("TelemetryProbeFlag");
    EXPECT_TRUE(probeFlag);
    foundation::feature::detail::State* state = probeFlag.getState();
    EXPECT_EQ(probeFlag.getState(), state);
    EXPECT_EQ(dataPtrCalls("TelemetryProbeFlag"), 1);
    EXPECT_EQ(state, getDataPtr("TelemetryProbeFlag"));
}

TEST_F(ModuleFlagTest, EventFlagsLookUpTheirFullNamesOnce) {
    setFlags("QSHInstallErrorTELX,QSHTripwireStartupTELX");
    for (int i = 0; i < 3; ++i) {
        logInstallResultEvent(InstallTelemetryRecord{}, installFailedText);
        logStartupTimingEvent("start", "end");
    }
    ASSERT_EQ(events().size(), 6u);

    // Counted since the program started, so this holds whichever test ran first.
    EXPECT_EQ(dataPtrCalls("QSHInstallErrorTELX"), 1);
    EXPECT_EQ(dataPtrCalls("QSHTripwireStartupTELX"), 1);
    for (const auto& [name, count] : dataPtrCallsByName()) {
        if (name.starts_with("QSH")) {
            EXPECT_TRUE(name == "QSHInstallErrorTELX" || name == "QSHTripwireStartupTELX")
                << "looked up " << name;
        }
    }
}

TEST_F(ModuleFlagTest, OverlappingFirstLookupsSettleOnTheLibrarysRecord) {
    constexpr int threadCount = 4;
    const std::vector<std::string> names{"Overlap0", "Overlap1", "Overlap2", "Overlap3",
                                         "Overlap4", "Overlap5", "Overlap6", "Overlap7"};
    std::vector<std::unique_ptr<Flag>> flags;
    for (const auto& name : names) {
        flags.push_back(std::make_unique<Flag>(name));
    }
    setFlags("Overlap2,Overlap5");

    std::vector<int> onCounts(threadCount, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&flags, &onCounts, t] {
            for (const auto& flag : flags) {
                onCounts[t] += *flag ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }

    for (int count : onCounts) {
        EXPECT_EQ(count, 2);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int lookups = dataPtrCalls(names[i]);
        EXPECT_GE(lookups, 1) << names[i];
        EXPECT_LE(lookups, threadCount) << names[i];
        EXPECT_EQ(flags[i]->getState(), getDataPtr(names[i]));
    }
}

} // namespace
} // namespace halvexconnector::tripwireimpl::test
