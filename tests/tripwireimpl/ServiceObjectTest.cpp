#include "Constants.h"
#include "HALVEXConnectorTripwireImpl.h"
#include "TestAccess.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace {

using namespace halvexconnector::tripwire;
using halvexconnector::tripwireimpl::HALVEXConnectorTripwireImpl;
using Access = halvexconnector::tripwireimpl::HALVEXConnectorTripwireImplTestAccess;

TEST(ServiceObject, ActivationClearsAndDeactivationSetsTheStopFlag) {
    HALVEXConnectorTripwireImpl object;
    EXPECT_FALSE(Access::stopFlag(object));
    object.Deactivate(nullptr);
    EXPECT_TRUE(Access::stopFlag(object));
    // Deactivating again (nobody waiting, keep-alive already released) is harmless.
    object.Deactivate(nullptr);
    EXPECT_TRUE(Access::stopFlag(object));
    object.Activate(nullptr);
    EXPECT_FALSE(Access::stopFlag(object));
}

TEST(Texts, ModeTextsCoverValuesOutsideTheEnumeration) {
    using halvexconnector::tripwireimpl::modeText;
    EXPECT_EQ(modeText(STANDARD), "STANDARD");
    EXPECT_EQ(modeText(DRIVE), "DRIVE");
    EXPECT_EQ(modeText(static_cast<HALVEXServicesMode>(2)), "UNKNOWN");
    EXPECT_EQ(modeText(static_cast<HALVEXServicesMode>(-1)), "UNKNOWN");
}

TEST(Texts, ResultTextsAreTheEnumeratorNamesAndTheSharedConstants) {
    using namespace halvexconnector::tripwireimpl;
    EXPECT_EQ(resultText(INSTALL_FAILED), "INSTALL_FAILED");
    EXPECT_EQ(resultText(FAILED_TO_START), "FAILED_TO_START");
    EXPECT_EQ(resultText(INSTALLED_AND_STARTED), "INSTALLED_AND_STARTED");
    EXPECT_EQ(&resultText(INSTALLED_AND_STARTED), &installedAndStartedText);
    EXPECT_EQ(installSourceWeb, "WEB");
    EXPECT_EQ(installSourceLocal, "LOCAL");
}

} // namespace
