#pragma once

#include <chrono>

namespace halvexconnector::tripwireimpl {

// How long and how often a service start looks for a running agent. The defaults are the
// production values; the unit tests shorten them through the test access.
struct StartPolling {
    // Polling gives up once more than this has elapsed.
    std::chrono::milliseconds limit{60'000};
    // Interval while at most `shortPhase` has elapsed; the service host usually comes up then.
    std::chrono::milliseconds shortInterval{100};
    std::chrono::milliseconds shortPhase{1'000};
    // Interval afterwards.
    std::chrono::milliseconds longInterval{1'000};
};

} // namespace halvexconnector::tripwireimpl
