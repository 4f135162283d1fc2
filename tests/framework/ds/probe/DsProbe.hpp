#pragma once

// Counters of events (which may carry a value: "Seen.ownBundle=name"), one copy in the process:
// the test bundles count, the tests read.
#include <string>

namespace dsprobe {

void Count(const std::string& event);
/// The events of `owner` ("Greeter" for "Greeter.ctor", ...) with their counts, by name:
/// "ctor:1 new:1".
std::string Summary(const std::string& owner);
void Reset();

} // namespace dsprobe
