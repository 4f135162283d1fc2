// The real polling limit, which takes a minute: run with TRIPWIRE_SLOW_TESTS=1 ctest -L slow.
#include "HALVEXConnectorTripwireImpl.h"
#include "ModuleTestSupport.h"
#include "TestAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;
using Access = halvexconnector::tripwireimpl::HALVEXConnectorTripwireImplTestAccess;

class SlowStart : public tripwire_test::TempHomeTest {};

TEST_F(SlowStart, GivesUpAfterSixtySecondsWithoutAnAgent) {
    if (std::getenv("TRIPWIRE_SLOW_TESTS") == nullptr) {
        GTEST_SKIP() << "set TRIPWIRE_SLOW_TESTS=1 to wait the real minute";
    }
    // No installation: the keep-alive starts nothing and no agent ever registers.
    halvexconnector::tripwireimpl::HALVEXConnectorTripwireImpl object;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(Access::ensureServiceHostRunning(object));
    const auto waited = std::chrono::steady_clock::now() - began;
    EXPECT_GT(waited, 60s);
    EXPECT_LT(waited, 63s);
}

} // namespace
