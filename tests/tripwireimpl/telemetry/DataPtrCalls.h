#pragma once

#include <map>
#include <string>

namespace halvexconnector::tripwireimpl::test {

// How often the module asked the feature library for the state record of `name` in this
// process. The test program puts its own getDataPtr in front of the library's to count.
int dataPtrCalls(const std::string& name);

// Every name asked for so far, with its count.
std::map<std::string, int> dataPtrCallsByName();

} // namespace halvexconnector::tripwireimpl::test
