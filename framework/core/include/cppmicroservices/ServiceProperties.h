#ifndef CPPMICROSERVICES_SERVICEPROPERTIES_H
#define CPPMICROSERVICES_SERVICEPROPERTIES_H

#include "cppmicroservices/AnyMap.h"

#include <string>
#include <unordered_map>

namespace cppmicroservices {

using ServiceProperties = std::unordered_map<std::string, Any>;

} // namespace cppmicroservices

#endif
