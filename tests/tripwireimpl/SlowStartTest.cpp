// The real polling limit, which takes a minute: run with TRIPWIRE_SLOW_TESTS=1 ctest -L slow.
#include "ServiceHostStarter.h"

#include <tripwire/testsupport/ModuleHome.h>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(SlowStart, GivesUpAfterSixtySecondsWithoutAnAgent) {
    if (std::getenv("TRIPWIRE_SLOW_TESTS") == nullptr) {
        GTEST_SKIP() << "set TRIPWIRE_SLOW_TESTS=1 to wait the real minute";
    }
    tripwire::testsupport::ModuleHome home; // no installation: no agent ever registers
    halvexconnector::tripwireimpl::ServiceHostStarter starter;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(starter.ensureServiceHostRunning());
    const auto waited = std::chrono::steady_clock::now() - began;
    EXPECT_GT(waited, 60s);
    EXPECT_LT(waited, 63s);
}

} // namespace
