#pragma once

// Counters (an event may carry a value: "Seen.ownBundle=name") shared by the test program and
// the test bundles: one copy in the process, so the tests can see what the bundles' code did
// without reaching into the bundles.
#include <string>

namespace dsprobe {

void Count(const std::string& event);
/// The events of `owner` ("Greeter" for "Greeter.ctor", ...) with their counts, by name:
/// "ctor:1 new:1".
std::string Summary(const std::string& owner);
void Reset();

} // namespace dsprobe
