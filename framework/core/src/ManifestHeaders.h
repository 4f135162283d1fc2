#ifndef CPPMICROSERVICES_SRC_MANIFESTHEADERS_H
#define CPPMICROSERVICES_SRC_MANIFESTHEADERS_H

#include "cppmicroservices/AnyMap.h"

#include <nlohmann/json.hpp>

namespace cppmicroservices {

/// The manifest as headers: objects become AnyMaps with case-insensitive keys, arrays
/// std::vector<Any>, integers int (long long when they do not fit), other numbers
/// double, null an empty Any.
AnyMap ManifestHeaders(nlohmann::json const& manifest);

} // namespace cppmicroservices

#endif
