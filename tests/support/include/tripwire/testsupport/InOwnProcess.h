#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

namespace tripwire::testsupport {

/// Runs `body` in a fresh process (a threadsafe death test) and expects it to pass there: for
/// cases that change process-wide state for good, such as a one-way shutdown.
template <typename Body> void inOwnProcess(Body body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            body();
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace tripwire::testsupport
