#ifndef CPPMICROSERVICES_SRC_LDAPEXPR_H
#define CPPMICROSERVICES_SRC_LDAPEXPR_H

#include "cppmicroservices/Any.h"

#include <cctype>
#include <functional>
#include <string>
#include <vector>

// The parsed form of an RFC 1960 filter, shared by the parser, the printer and the
// matcher.
namespace cppmicroservices::ldap {

enum class Op { And, Or, Not, Equal, Approx, LessEq, GreaterEq, Present, Substring };

/// One term of a filter: an operator over child terms, or a comparison of one attribute.
struct Node {
    Op op = Op::And;
    std::string attr;
    std::string value;
    // Substring pattern split at the wildcards: initial, middle parts..., final
    // (the first and last may be empty).
    std::vector<std::string> parts;
    std::vector<Node> children;
};

inline bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

inline char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

inline bool EqualsIgnoreCase(std::string const& a, std::string const& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

inline std::string Trim(std::string const& s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && IsSpace(s[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(s[end - 1])) {
        --end;
    }
    return s.substr(begin, end - begin);
}

/// Parses filter text; throws std::invalid_argument when it is malformed.
Node Parse(std::string const& text);
/// The normalised text: no blanks between terms, specials in values escaped.
std::string Print(Node const& node);

/// The value of an attribute, or null when absent.
using Lookup = std::function<Any const*(std::string const&)>;
bool Evaluate(Node const& node, Lookup const& lookup);

} // namespace cppmicroservices::ldap

#endif
