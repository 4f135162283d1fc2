#pragma once

#include <string_view>
#include <vector>

namespace halvexconnector::latestversion::checker {

// The texts of the public key files named by TRIPWIRE_TRUSTED_KEYS when the library was built.
const std::vector<std::string_view>& builtInTrustedKeys();

} // namespace halvexconnector::latestversion::checker
