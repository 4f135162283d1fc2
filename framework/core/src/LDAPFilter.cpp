#include "cppmicroservices/LDAPFilter.h"

#include "PropertiesCheck.h"
#include "ServiceRegistry.h"

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/ServiceReferenceBase.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <vector>

namespace cppmicroservices {

namespace {

enum class Op { And, Or, Not, Equal, Approx, LessEq, GreaterEq, Present, Substring };

struct Node {
    Op op = Op::And;
    std::string attr;
    std::string value;
    // Substring pattern split at the wildcards: initial, middle parts..., final
    // (the first and last may be empty).
    std::vector<std::string> parts;
    std::vector<Node> children;
};

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool EqualsIgnoreCase(std::string const& a, std::string const& b) {
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

std::string Trim(std::string const& s) {
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

// Parsing, matching and printing recurse once per level: a bound keeps a hostile filter from
// exhausting the stack. Real filters nest a few levels.
constexpr std::size_t kMaxNesting = 128;

class Parser {
public:
    explicit Parser(std::string const& text) : text(text) {}

    Node ParseAll() {
        Node root = ParseFilter();
        SkipSpace();
        if (pos != text.size()) {
            Fail("unexpected text after the filter");
        }
        return root;
    }

private:
    [[noreturn]] void Fail(std::string const& why) const {
        throw std::invalid_argument("Invalid LDAP filter \"" + text + "\": " + why +
                                    " at position " + std::to_string(pos));
    }

    void SkipSpace() {
        while (pos < text.size() && IsSpace(text[pos])) {
            ++pos;
        }
    }

    char Peek() const { return pos < text.size() ? text[pos] : '\0'; }

    void Expect(char c) {
        if (Peek() != c) {
            Fail(std::string("expected '") + c + "'");
        }
        ++pos;
    }

    Node ParseFilter() {
        SkipSpace();
        if (++depth > kMaxNesting) {
            Fail("filters nested more than " + std::to_string(kMaxNesting) + " levels deep");
        }
        Expect('(');
        SkipSpace();
        Node node = ParseComponent();
        SkipSpace();
        Expect(')');
        --depth;
        return node;
    }

    Node ParseComponent() {
        Node node;
        switch (Peek()) {
        case '&':
        case '|':
            node.op = Peek() == '&' ? Op::And : Op::Or;
            ++pos;
            SkipSpace();
            while (Peek() == '(') {
                node.children.push_back(ParseFilter());
                SkipSpace();
            }
            if (node.children.empty()) {
                Fail("an '&' or '|' needs at least one filter");
            }
            return node;
        case '!':
            node.op = Op::Not;
            ++pos;
            node.children.push_back(ParseFilter());
            return node;
        default:
            return ParseItem();
        }
    }

    Node ParseItem() {
        Node node;
        std::size_t const start = pos;
        while (pos < text.size() &&
               std::string_view("=~<>()").find(text[pos]) == std::string_view::npos) {
            ++pos;
        }
        node.attr = Trim(text.substr(start, pos - start));
        if (node.attr.empty()) {
            Fail("missing attribute name");
        }
        switch (Peek()) {
        case '=':
            node.op = Op::Equal;
            ++pos;
            break;
        case '~':
        case '<':
        case '>':
            node.op = Peek() == '~' ? Op::Approx : (Peek() == '<' ? Op::LessEq : Op::GreaterEq);
            ++pos;
            Expect('=');
            break;
        default:
            Fail("expected an operator (=, ~=, <=, >=)");
        }
        ParseValue(node);
        return node;
    }

    // Reads up to the closing parenthesis; balanced parentheses belong to the value, a
    // backslash takes the next character literally, an unescaped '*' in an equality makes
    // it a presence or substring test.
    void ParseValue(Node& node) {
        std::vector<std::string> parts(1);
        bool sawWildcard = false;
        std::size_t open = 0;
        while (true) {
            if (pos >= text.size()) {
                Fail("missing ')'");
            }
            char const c = text[pos];
            if (c == ')' && open == 0) {
                break;
            }
            if (c == '(') {
                ++open;
            } else if (c == ')') {
                --open;
            }
            ++pos;
            if (c == '\\') {
                if (pos >= text.size()) {
                    Fail("dangling escape");
                }
                parts.back() += text[pos++];
            } else if (c == '*' && node.op == Op::Equal) {
                sawWildcard = true;
                parts.emplace_back();
            } else {
                parts.back() += c;
            }
        }
        if (!sawWildcard) {
            node.value = parts.front();
        } else if (parts.size() == 2 && parts[0].empty() && parts[1].empty()) {
            node.op = Op::Present;
        } else {
            node.op = Op::Substring;
            node.parts = std::move(parts);
        }
    }

    std::string const& text;
    std::size_t pos = 0;
    std::size_t depth = 0;
};

std::string Escape(std::string const& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '*' || c == '(' || c == ')') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

void Write(Node const& node, std::string& out) {
    out += '(';
    switch (node.op) {
    case Op::And:
    case Op::Or:
    case Op::Not:
        out += node.op == Op::And ? '&' : (node.op == Op::Or ? '|' : '!');
        for (auto const& child : node.children) {
            Write(child, out);
        }
        break;
    case Op::Equal:
        out += node.attr + "=" + Escape(node.value);
        break;
    case Op::Approx:
        out += node.attr + "~=" + Escape(node.value);
        break;
    case Op::LessEq:
        out += node.attr + "<=" + Escape(node.value);
        break;
    case Op::GreaterEq:
        out += node.attr + ">=" + Escape(node.value);
        break;
    case Op::Present:
        out += node.attr + "=*";
        break;
    case Op::Substring:
        out += node.attr + "=";
        for (std::size_t i = 0; i < node.parts.size(); ++i) {
            out += (i ? "*" : "") + Escape(node.parts[i]);
        }
        break;
    }
    out += ')';
}

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

using Lookup = std::function<Any const*(std::string const&)>;

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
    Node root;
    std::string text;
};

LDAPFilter::LDAPFilter() = default;

LDAPFilter::LDAPFilter(std::string const& filter) : d(std::make_shared<LDAPFilterData>()) {
    d->root = Parser(filter).ParseAll();
    Write(d->root, d->text);
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
    return Evaluate(d->root, [&dictionary](std::string const& key) -> Any const* {
        if (auto it = dictionary.find(key); it != dictionary.end()) {
            return &it->second;
        }
        for (auto const& [k, v] : dictionary) {
            if (EqualsIgnoreCase(k, key)) {
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
    return Evaluate(d->root, [&dictionary](std::string const& key) -> Any const* {
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
