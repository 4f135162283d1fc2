#include "LDAPExpr.h"

#include <cerrno>
#include <cstdlib>

namespace cppmicroservices::ldap {

namespace {

std::string SquashApprox(std::string const& s) {
    std::string out;
    for (char c : s) {
        if (!IsSpace(c)) {
            out += Lower(c);
        }
    }
    return out;
}

bool MatchSubstring(std::string const& s, std::vector<std::string> const& parts) {
    std::string const& initial = parts.front();
    std::string const& final = parts.back();
    if (s.size() < initial.size() + final.size() || s.compare(0, initial.size(), initial) != 0 ||
        s.compare(s.size() - final.size(), final.size(), final) != 0) {
        return false;
    }
    std::size_t pos = initial.size();
    std::size_t const limit = s.size() - final.size();
    for (std::size_t i = 1; i + 1 < parts.size(); ++i) {
        auto found = s.find(parts[i], pos);
        if (found == std::string::npos || found + parts[i].size() > limit) {
            return false;
        }
        pos = found + parts[i].size();
    }
    return true;
}

bool CompareString(std::string const& s, Node const& node) {
    switch (node.op) {
    case Op::Equal:
        return s == node.value;
    case Op::Approx:
        return SquashApprox(s) == SquashApprox(node.value);
    case Op::LessEq:
        return s <= node.value;
    case Op::GreaterEq:
        return s >= node.value;
    case Op::Substring:
        return MatchSubstring(s, node.parts);
    default:
        return false;
    }
}

template <class T> bool CompareOrdered(T const& actual, T const& wanted, Op op) {
    switch (op) {
    case Op::Equal:
    case Op::Approx:
        return actual == wanted;
    case Op::LessEq:
        return actual <= wanted;
    case Op::GreaterEq:
        return actual >= wanted;
    default:
        return false;
    }
}

bool CompareSigned(long long actual, Node const& node) {
    std::string const text = Trim(node.value);
    char* end = nullptr;
    errno = 0;
    long long const wanted = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE) {
        return false;
    }
    return CompareOrdered(actual, wanted, node.op);
}

bool CompareUnsigned(unsigned long long actual, Node const& node) {
    std::string const text = Trim(node.value);
    char* end = nullptr;
    errno = 0;
    if (!text.empty() && text[0] == '-') {
        return node.op == Op::GreaterEq && CompareSigned(0, node);
    }
    unsigned long long const wanted = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE) {
        return false;
    }
    return CompareOrdered(actual, wanted, node.op);
}

bool CompareFloating(double actual, Node const& node) {
    std::string const text = Trim(node.value);
    char* end = nullptr;
    double const wanted = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') {
        return false;
    }
    return CompareOrdered(actual, wanted, node.op);
}

template <class... Ts, class F> bool TryTypes(Any const& value, F&& f, bool& handled) {
    bool result = false;
    handled =
        ((value.Type() == typeid(Ts) ? (result = f(*any_cast<Ts>(&value)), true) : false) || ...);
    return result;
}

bool CompareValue(Any const& value, Node const& node) {
    if (auto const* s = any_cast<std::string>(&value)) {
        return CompareString(*s, node);
    }
    if (auto const* b = any_cast<bool>(&value)) {
        bool const equalityTest = node.op == Op::Equal || node.op == Op::Approx;
        return equalityTest && EqualsIgnoreCase(Trim(node.value), *b ? "true" : "false");
    }
    if (auto const* strings = any_cast<std::vector<std::string>>(&value)) {
        for (auto const& s : *strings) {
            if (CompareString(s, node)) {
                return true;
            }
        }
        return false;
    }
    if (auto const* anys = any_cast<std::vector<Any>>(&value)) {
        for (auto const& a : *anys) {
            if (CompareValue(a, node)) {
                return true;
            }
        }
        return false;
    }
    bool handled = false;
    bool result = TryTypes<signed char, short, int, long, long long>(
        value, [&node](auto v) { return CompareSigned(static_cast<long long>(v), node); }, handled);
    if (handled) {
        return result;
    }
    result =
        TryTypes<unsigned char, unsigned short, unsigned int, unsigned long, unsigned long long>(
            value,
            [&node](auto v) { return CompareUnsigned(static_cast<unsigned long long>(v), node); },
            handled);
    if (handled) {
        return result;
    }
    result = TryTypes<float, double>(
        value, [&node](auto v) { return CompareFloating(static_cast<double>(v), node); }, handled);
    if (handled) {
        return result;
    }
    if (auto const* c = any_cast<char>(&value)) {
        return CompareString(std::string(1, *c), node);
    }
    return false;
}

} // namespace

bool Evaluate(Node const& node, Lookup const& lookup) {
    switch (node.op) {
    case Op::And:
        for (auto const& child : node.children) {
            if (!Evaluate(child, lookup)) {
                return false;
            }
        }
        return true;
    case Op::Or:
        for (auto const& child : node.children) {
            if (Evaluate(child, lookup)) {
                return true;
            }
        }
        return false;
    case Op::Not:
        return !Evaluate(node.children.front(), lookup);
    case Op::Present:
        return lookup(node.attr) != nullptr;
    default: {
        Any const* value = lookup(node.attr);
        return value && !value->Empty() && CompareValue(*value, node);
    }
    }
}

} // namespace cppmicroservices::ldap
