#include "LDAPExpr.h"

#include <stdexcept>
#include <string_view>

namespace cppmicroservices::ldap {

namespace {

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

} // namespace

Node Parse(std::string const& text) {
    return Parser(text).ParseAll();
}

std::string Print(Node const& node) {
    std::string out;
    Write(node, out);
    return out;
}

} // namespace cppmicroservices::ldap
