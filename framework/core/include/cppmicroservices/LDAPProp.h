#ifndef CPPMICROSERVICES_LDAPPROP_H
#define CPPMICROSERVICES_LDAPPROP_H

#include "cppmicroservices/Any.h"
#include "cppmicroservices/FrameworkExport.h"

#include <sstream>
#include <string>

namespace cppmicroservices {

/// Filter text made by LDAPProp and combined with !, && and ||. The null expression
/// (a comparison with an empty value) drops out of && and ||.
class US_Framework_EXPORT LDAPPropExpr {
public:
    LDAPPropExpr();
    explicit LDAPPropExpr(std::string expr);

    /// "(!expr)"; the null expression stays null. Leaves this expression as it is.
    LDAPPropExpr operator!() const;
    operator std::string() const;
    bool IsNull() const;

    LDAPPropExpr& operator|=(LDAPPropExpr const& right);
    LDAPPropExpr& operator&=(LDAPPropExpr const& right);

private:
    std::string text;
};

US_Framework_EXPORT LDAPPropExpr operator&&(LDAPPropExpr const& left, LDAPPropExpr const& right);
US_Framework_EXPORT LDAPPropExpr operator||(LDAPPropExpr const& left, LDAPPropExpr const& right);

/// Builds filter text for one property: LDAPFilter(LDAPProp("name") == "Ben" &&
/// !(LDAPProp("count") == 1)) is "(&(name=Ben)(!(count=1)))". Values are written as
/// text (streamed, Any::ToString, true/false) with the filter's special characters
/// escaped, so they always compare literally.
class US_Framework_EXPORT LDAPProp {
public:
    /// Throws std::invalid_argument when `property` is empty.
    LDAPProp(std::string property);
    LDAPProp& operator=(LDAPProp const&) = delete;

    LDAPPropExpr operator==(std::string const& value) const;
    LDAPPropExpr operator==(Any const& value) const;
    LDAPPropExpr operator==(bool value) const;
    template <class T> LDAPPropExpr operator==(T const& value) const {
        return operator==(Text(value));
    }

    /// Presence: "(name=*)".
    operator LDAPPropExpr() const;
    /// Absence: "(!(name=*))".
    LDAPPropExpr operator!() const;

    LDAPPropExpr operator!=(std::string const& value) const;
    LDAPPropExpr operator!=(Any const& value) const;
    template <class T> LDAPPropExpr operator!=(T const& value) const {
        return operator!=(Text(value));
    }

    LDAPPropExpr operator>=(std::string const& value) const;
    LDAPPropExpr operator>=(Any const& value) const;
    template <class T> LDAPPropExpr operator>=(T const& value) const {
        return operator>=(Text(value));
    }

    LDAPPropExpr operator<=(std::string const& value) const;
    LDAPPropExpr operator<=(Any const& value) const;
    template <class T> LDAPPropExpr operator<=(T const& value) const {
        return operator<=(Text(value));
    }

    LDAPPropExpr Approx(std::string const& value) const;
    LDAPPropExpr Approx(Any const& value) const;
    template <class T> LDAPPropExpr Approx(T const& value) const { return Approx(Text(value)); }

private:
    template <class T> static std::string Text(T const& value) {
        std::ostringstream out;
        out << value;
        return out.str();
    }
    LDAPPropExpr Compare(char const* op, std::string const& value) const;

    std::string property;
};

} // namespace cppmicroservices

#endif
