// Input: a filter, matched against every value type of service properties.
#include "FuzzSupport.h"

#include <cppmicroservices/Any.h>
#include <cppmicroservices/AnyMap.h>
#include <cppmicroservices/LDAPFilter.h>

#include <stdexcept>

namespace us = cppmicroservices;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const us::AnyMap properties = [] {
        us::AnyMap m(us::AnyMap::UNORDERED_MAP_CASEINSENSITIVE_KEYS);
        m["objectclass"] = std::string("com.example.Service");
        m["service.id"] = 42L;
        m["service.ranking"] = -3;
        m["name"] = std::string("a*b(c)\\d");
        m["ratio"] = 0.5;
        m["enabled"] = true;
        m["tags"] = std::vector<us::Any>{us::Any(std::string("x")), us::Any(7)};
        m["empty"] = std::string();
        return m;
    }();
    us::LDAPFilter filter, reparsed;
    try {
        filter = us::LDAPFilter(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const std::invalid_argument&) {
        return 0;
    }
    const bool matched = filter.Match(properties);
    (void)filter.MatchCase(properties);
    try {
        reparsed = us::LDAPFilter(filter.ToString());
    } catch (const std::invalid_argument&) {
        tripwire_fuzz::violation("the normalised text of a filter does not parse");
    }
    if (!(reparsed == filter) || reparsed.Match(properties) != matched)
        tripwire_fuzz::violation("the normalised text of a filter is a different filter");
    return 0;
}
