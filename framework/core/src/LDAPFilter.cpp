#include "cppmicroservices/LDAPFilter.h"

#include "LDAPExpr.h"
#include "PropertiesCheck.h"
#include "ServiceRegistrationBasePrivate.h"

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/ServiceReferenceBase.h"

#include <stdexcept>

namespace cppmicroservices {

namespace {

void RejectCaseVariants(AnyMap const& dictionary) {
    if (dictionary.GetType() == AnyMap::UNORDERED_MAP_CASEINSENSITIVE_KEYS) {
        return;
    }
    if (auto const* key = CaseVariantKey(dictionary)) {
        throw std::runtime_error(CaseVariantMessage(*key));
    }
}

} // namespace

class LDAPFilterData {
public:
    ldap::Node root;
    std::string text;
};

LDAPFilter::LDAPFilter() = default;

LDAPFilter::LDAPFilter(std::string const& filter) : d(std::make_shared<LDAPFilterData>()) {
    d->root = ldap::Parse(filter);
    d->text = ldap::Print(d->root);
}

LDAPFilter::LDAPFilter(LDAPFilter const& other) = default;
LDAPFilter::~LDAPFilter() = default;
LDAPFilter& LDAPFilter::operator=(LDAPFilter const& filter) = default;

LDAPFilter::operator bool() const {
    return static_cast<bool>(d);
}

bool LDAPFilter::Match(ServiceReferenceBase const& reference) const {
    auto reg = reference.Registration();
    if (!reg) {
        return false;
    }
    return Match(AnyMap(reg->Properties()));
}

bool LDAPFilter::Match(Bundle const& bundle) const {
    if (!d) {
        return true;
    }
    return bundle && Match(bundle.GetHeaders());
}

bool LDAPFilter::Match(AnyMap const& dictionary) const {
    if (!d) {
        return true;
    }
    RejectCaseVariants(dictionary);
    return ldap::Evaluate(d->root, [&dictionary](std::string const& key) -> Any const* {
        if (auto it = dictionary.find(key); it != dictionary.end()) {
            return &it->second;
        }
        for (auto const& [k, v] : dictionary) {
            if (ldap::EqualsIgnoreCase(k, key)) {
                return &v;
            }
        }
        return nullptr;
    });
}

bool LDAPFilter::MatchCase(AnyMap const& dictionary) const {
    if (!d) {
        return true;
    }
    RejectCaseVariants(dictionary);
    return ldap::Evaluate(d->root, [&dictionary](std::string const& key) -> Any const* {
        auto it = dictionary.find(key);
        return it != dictionary.end() ? &it->second : nullptr;
    });
}

std::string LDAPFilter::ToString() const {
    return d ? d->text : std::string();
}

bool LDAPFilter::operator==(LDAPFilter const& other) const {
    return ToString() == other.ToString();
}

std::ostream& operator<<(std::ostream& os, LDAPFilter const& filter) {
    return os << filter.ToString();
}

} // namespace cppmicroservices
