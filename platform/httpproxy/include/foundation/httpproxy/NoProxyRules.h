#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation::httpproxy {

/// The hosts that are reached directly, from a no_proxy setting: entries separated by commas
/// (blanks around them ignored), each one of
/// - "*": every host;
/// - a domain, "example.com", ".example.com" or "*.example.com": that host and all below it;
/// - an IPv4 or IPv6 address ("10.1.2.3", "::1", "[::1]") or network ("10.0.0.0/8", "fd00::/8");
/// optionally followed by ":port" (IPv6 addresses then in brackets), which limits the entry to
/// URLs whose port (explicit or the scheme's default) is that one. Host names compare without
/// regard to case and to a trailing dot.
class NoProxyRules {
public:
    /// Parses the setting; entries that cannot be read are skipped and listed in rejected
    /// (when given), the others still apply.
    static NoProxyRules parse(std::string_view setting,
                              std::vector<std::string>* rejected = nullptr);

    /// Whether a URL with this host (name or address, IPv6 with or without brackets) and port
    /// (0 when unknown) is reached directly.
    bool bypasses(std::string_view host, std::uint16_t port) const;

    bool empty() const { return rules.empty(); }

private:
    struct Rule {
        enum class Kind { ANY, DOMAIN, NETWORK };
        Kind kind = Kind::ANY;
        std::string domain; // DOMAIN: lower case, no leading or trailing dot
        int family = 0;     // NETWORK: AF_INET or AF_INET6
        unsigned char address[16] = {};
        int prefixLength = 0; // NETWORK: leading bits that must match
        std::optional<std::uint16_t> port;
    };

    static std::optional<Rule> parseEntry(std::string_view entry);
    static bool matches(const Rule& rule, std::string_view host, std::uint16_t port);

    std::vector<Rule> rules;
};

} // namespace foundation::httpproxy
