#include "cppmicroservices/LDAPProp.h"

#include <stdexcept>
#include <utility>

namespace cppmicroservices {

namespace {
LDAPPropExpr Combine(char op, LDAPPropExpr const& left, LDAPPropExpr const& right) {
    if (left.IsNull()) {
        return right;
    }
    if (right.IsNull()) {
        return left;
    }
    return LDAPPropExpr(std::string("(") + op + std::string(left) + std::string(right) + ")");
}
} // namespace

LDAPPropExpr::LDAPPropExpr() = default;
LDAPPropExpr::LDAPPropExpr(std::string expr) : text(std::move(expr)) {}

LDAPPropExpr LDAPPropExpr::operator!() const {
    return IsNull() ? *this : LDAPPropExpr("(!" + text + ")");
}

LDAPPropExpr::operator std::string() const {
    return text;
}

bool LDAPPropExpr::IsNull() const {
    return text.empty();
}

LDAPPropExpr& LDAPPropExpr::operator|=(LDAPPropExpr const& right) {
    return *this = *this || right;
}

LDAPPropExpr& LDAPPropExpr::operator&=(LDAPPropExpr const& right) {
    return *this = *this && right;
}

LDAPPropExpr operator&&(LDAPPropExpr const& left, LDAPPropExpr const& right) {
    return Combine('&', left, right);
}

LDAPPropExpr operator||(LDAPPropExpr const& left, LDAPPropExpr const& right) {
    return Combine('|', left, right);
}

LDAPProp::LDAPProp(std::string name) : property(std::move(name)) {
    if (property.empty()) {
        throw std::invalid_argument("LDAPProp: the property name must not be empty");
    }
}

LDAPPropExpr LDAPProp::Compare(char const* op, std::string const& value) const {
    if (value.empty()) {
        return LDAPPropExpr();
    }
    // Escaped, a value cannot turn into a wildcard pattern or end the term early.
    std::string escaped;
    for (char c : value) {
        if (c == '\\' || c == '*' || c == '(' || c == ')') {
            escaped += '\\';
        }
        escaped += c;
    }
    return LDAPPropExpr("(" + property + op + escaped + ")");
}

LDAPPropExpr LDAPProp::operator==(std::string const& value) const {
    return Compare("=", value);
}
LDAPPropExpr LDAPProp::operator==(Any const& value) const {
    return Compare("=", value.ToString());
}
LDAPPropExpr LDAPProp::operator==(bool value) const {
    return Compare("=", value ? "true" : "false");
}

LDAPProp::operator LDAPPropExpr() const {
    return LDAPPropExpr("(" + property + "=*)");
}

LDAPPropExpr LDAPProp::operator!() const {
    return LDAPPropExpr("(!(" + property + "=*))");
}

LDAPPropExpr LDAPProp::operator!=(std::string const& value) const {
    return !Compare("=", value);
}
LDAPPropExpr LDAPProp::operator!=(Any const& value) const {
    return !Compare("=", value.ToString());
}

LDAPPropExpr LDAPProp::operator>=(std::string const& value) const {
    return Compare(">=", value);
}
LDAPPropExpr LDAPProp::operator>=(Any const& value) const {
    return Compare(">=", value.ToString());
}

LDAPPropExpr LDAPProp::operator<=(std::string const& value) const {
    return Compare("<=", value);
}
LDAPPropExpr LDAPProp::operator<=(Any const& value) const {
    return Compare("<=", value.ToString());
}

LDAPPropExpr LDAPProp::Approx(std::string const& value) const {
    return Compare("~=", value);
}
LDAPPropExpr LDAPProp::Approx(Any const& value) const {
    return Compare("~=", value.ToString());
}

} // namespace cppmicroservices
