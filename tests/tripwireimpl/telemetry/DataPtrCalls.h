#pragma once

#include <string>

namespace halvexconnector::tripwireimpl::test {

// How often the module asked the feature library for the state record of `name` in this
// process. The test program puts its own getDataPtr in front of the library's to count.
int dataPtrCalls(const std::string& name);

} // namespace halvexconnector::tripwireimpl::test
