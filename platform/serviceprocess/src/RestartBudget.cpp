#include "RestartBudget.h"

#include <algorithm>

namespace halvexconnector::serviceprocess::client_lifetime::detail {

RestartBudget::RestartBudget(const KeepAlivePolicy& policy)
    : firstBackOff(std::max(policy.firstBackOff, std::chrono::milliseconds(0))),
      longestBackOff(std::max(policy.longestBackOff, firstBackOff)),
      startsPerWindow(policy.startsPerWindow), startWindow(policy.startWindow) {}

void RestartBudget::recordStart(Clock::time_point when) {
    starts.push_back(when);
}

unsigned RestartBudget::startsWithinWindow(Clock::time_point when) {
    while (!starts.empty() && when - starts.front() >= startWindow) {
        starts.pop_front();
    }
    return static_cast<unsigned>(starts.size());
}

std::optional<std::chrono::milliseconds> RestartBudget::pauseAfterFailure(Clock::time_point when) {
    if (!starts.empty() && when - starts.back() >= startWindow) {
        failuresInARow = 0;
    }
    // Counting at the exit is enough: the restart comes later, when no fewer old starts have
    // left the window.
    if (startsWithinWindow(when) >= startsPerWindow) {
        return std::nullopt;
    }
    auto pause = firstBackOff;
    for (unsigned i = 0; i < failuresInARow && pause.count() > 0 && pause < longestBackOff; ++i) {
        pause *= 2;
    }
    ++failuresInARow;
    return std::min(pause, longestBackOff);
}

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
