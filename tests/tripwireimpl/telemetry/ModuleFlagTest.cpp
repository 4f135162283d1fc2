#include "DataPtrCalls.h"
#include "TelemetryTestSupport.h"

#include "Constants.h"
#include "telemetry/FeatureFlag.h"
#include "telemetry/InstallResultEvent.h"
#include "telemetry/StartupTimingEvent.h"

#include <foundation/feature/management/process/DataPtr.h>

#include <string>

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

    // Counted since the program started, so this holds whichever test ran first; a lookup
    // under a cut or wrong name would leave a count at 0.
    EXPECT_EQ(dataPtrCalls("QSHInstallErrorTELX"), 1);
    EXPECT_EQ(dataPtrCalls("QSHTripwireStartupTELX"), 1);
}

} // namespace
} // namespace halvexconnector::tripwireimpl::test
