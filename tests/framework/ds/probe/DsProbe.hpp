#ifndef DSTEST_DSPROBE_HPP
#define DSTEST_DSPROBE_HPP

// Counters (an event may carry a value: "Greeter.ownBundle=name") shared by the test program and
// the test bundles: one copy in the process, so the tests can see what the bundles' code did
// without reaching into the bundles.
#include <string>

namespace dsprobe {

void Count(const std::string& event);
int Get(const std::string& event);
void Reset();

} // namespace dsprobe

#endif
