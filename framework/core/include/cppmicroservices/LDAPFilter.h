#ifndef CPPMICROSERVICES_LDAPFILTER_H
#define CPPMICROSERVICES_LDAPFILTER_H

#include "cppmicroservices/AnyMap.h"

#include <memory>
#include <ostream>
#include <string>

namespace cppmicroservices {

class LDAPFilterData;
class ServiceReferenceBase;
class Bundle;

/// An RFC 1960 filter over properties: (&...), (|...), (!...), =, ~=, <=, >=,
/// presence (key=*) and substrings (key=a*b*c). Keys match without regard to
/// case; a backslash escapes the next character, and balanced parentheses may stand
/// unescaped in a value. A default-constructed filter
/// matches everything and its text is empty.
class US_Framework_EXPORT LDAPFilter {
public:
    LDAPFilter();
    /// Throws std::invalid_argument when `filter` is malformed.
    LDAPFilter(std::string const& filter);
    LDAPFilter(LDAPFilter const& other);
    ~LDAPFilter();

    /// False for a default-constructed filter.
    explicit operator bool() const;

    bool Match(ServiceReferenceBase const& reference) const;
    /// Matches the bundle's manifest headers; false for an invalid bundle.
    bool Match(Bundle const& bundle) const;
    /// Throws std::runtime_error when two keys of `dictionary` differ only in case
    /// (unless the map itself ignores case).
    bool Match(AnyMap const& dictionary) const;
    /// As Match, but keys are compared exactly.
    bool MatchCase(AnyMap const& dictionary) const;

    /// The normalised filter text (no white space between terms).
    std::string ToString() const;

    bool operator==(LDAPFilter const& other) const;
    LDAPFilter& operator=(LDAPFilter const& filter);

protected:
    std::shared_ptr<LDAPFilterData> d;
};

US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, LDAPFilter const& filter);

} // namespace cppmicroservices

#endif
