// Feeds arbitrary text to the LDAP filter parser and matches what it accepts against a property
// map of every value type the framework puts in service properties. A filter's normalised text
// must parse again to an equal filter.
#include <cppmicroservices/Any.h>
#include <cppmicroservices/AnyMap.h>
#include <cppmicroservices/LDAPFilter.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace us = cppmicroservices;

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "LDAP filter fuzz: %s\n", what);
    std::abort();
}

const us::AnyMap& properties() {
    static const us::AnyMap map = [] {
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
    return map;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    us::LDAPFilter filter;
    try {
        filter = us::LDAPFilter(text);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    const bool matched = filter.Match(properties());
    (void)filter.MatchCase(properties());
    us::LDAPFilter reparsed;
    try {
        reparsed = us::LDAPFilter(filter.ToString());
    } catch (const std::invalid_argument&) {
        violation("the normalised text of a filter does not parse");
    }
    if (!(reparsed == filter) || reparsed.Match(properties()) != matched) {
        violation("the normalised text of a filter is a different filter");
    }
    return 0;
}
