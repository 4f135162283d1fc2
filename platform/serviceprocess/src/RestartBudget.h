#pragma once

#include "halvexconnector/serviceprocess/client_lifetime/KeepAlivePolicy.h"

#include <chrono>
#include <deque>
#include <optional>

namespace halvexconnector::serviceprocess::client_lifetime::detail {

/// The restart arithmetic of a keep-alive, on time points the caller supplies: which pause
/// follows an abnormal exit, and whether the budget of starts still allows a restart.
class RestartBudget {
public:
    using Clock = std::chrono::steady_clock;

    explicit RestartBudget(const KeepAlivePolicy& policy);

    void recordStart(Clock::time_point when);

    /// After an abnormal exit at `when`: the pause before the next start, or empty when the
    /// budget is spent. A process that ran for a whole window before it failed starts the
    /// pauses over from the first one.
    std::optional<std::chrono::milliseconds> pauseAfterFailure(Clock::time_point when);

private:
    unsigned startsWithinWindow(Clock::time_point when);

    std::chrono::milliseconds firstBackOff;
    std::chrono::milliseconds longestBackOff;
    unsigned startsPerWindow;
    std::chrono::milliseconds startWindow;
    std::deque<Clock::time_point> starts;
    unsigned failuresInARow = 0;
};

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
