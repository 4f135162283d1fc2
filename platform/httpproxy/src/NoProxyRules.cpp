#include <foundation/httpproxy/NoProxyRules.h>

#include "Text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace foundation::httpproxy {
namespace {

// Reads an IPv4 or IPv6 address; the family, or 0 when text is not an address.
int parseAddress(std::string_view text, unsigned char (&address)[16]) {
    const std::string copy(text);
    if (inet_pton(AF_INET, copy.c_str(), address) == 1) {
        return AF_INET;
    }
    if (inet_pton(AF_INET6, copy.c_str(), address) == 1) {
        return AF_INET6;
    }
    return 0;
}

bool prefixMatches(const unsigned char* a, const unsigned char* b, int bits) {
    const int whole = bits / 8;
    if (std::memcmp(a, b, static_cast<std::size_t>(whole)) != 0) {
        return false;
    }
    const int remaining = bits % 8;
    if (remaining == 0) {
        return true;
    }
    const auto mask = static_cast<unsigned char>(0xFF << (8 - remaining));
    return (a[whole] & mask) == (b[whole] & mask);
}

std::string normalizedHost(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    auto result = detail::lowerCase(host);
    while (result.ends_with('.')) {
        result.pop_back();
    }
    return result;
}

} // namespace

NoProxyRules NoProxyRules::parse(std::string_view setting, std::vector<std::string>* rejected) {
    NoProxyRules result;
    while (!setting.empty()) {
        const auto comma = setting.find(',');
        const auto entry = detail::trim(setting.substr(0, comma));
        setting = comma == std::string_view::npos ? std::string_view{} : setting.substr(comma + 1);
        if (entry.empty()) {
            continue;
        }
        if (auto rule = parseEntry(entry)) {
            result.rules.push_back(std::move(*rule));
        } else if (rejected != nullptr) {
            rejected->emplace_back(entry);
        }
    }
    return result;
}

std::optional<NoProxyRules::Rule> NoProxyRules::parseEntry(std::string_view entry) {
    Rule rule;
    if (entry == "*") {
        return rule;
    }
    std::string_view hostPart = entry;
    std::string_view portPart;
    bool hasPort = false;
    if (entry.starts_with('[')) {
        const auto close = entry.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        hostPart = entry.substr(1, close - 1);
        auto after = entry.substr(close + 1);
        if (after.starts_with('/')) { // a network, "[fd00::]/8"
            return parseEntry(std::string(hostPart) + std::string(after));
        }
        if (!after.empty()) {
            if (after.front() != ':') {
                return std::nullopt;
            }
            portPart = after.substr(1);
            hasPort = true;
        }
    } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
        const auto colon = entry.find(':');
        hostPart = entry.substr(0, colon);
        portPart = entry.substr(colon + 1);
        hasPort = true;
    }
    if (hasPort) {
        rule.port = detail::parsePort(portPart);
        if (!rule.port) {
            return std::nullopt;
        }
    }

    auto addressPart = hostPart;
    std::string_view prefixPart;
    if (const auto slash = hostPart.find('/'); slash != std::string_view::npos) {
        addressPart = hostPart.substr(0, slash);
        prefixPart = hostPart.substr(slash + 1);
    }
    if (const int family = parseAddress(addressPart, rule.address); family != 0) {
        rule.kind = Rule::Kind::NETWORK;
        rule.family = family;
        const int maximum = family == AF_INET ? 32 : 128;
        rule.prefixLength = maximum;
        if (hostPart.find('/') != std::string_view::npos) {
            if (prefixPart.empty() || prefixPart.size() > 3 ||
                !std::all_of(prefixPart.begin(), prefixPart.end(),
                             [](unsigned char c) { return c >= '0' && c <= '9'; })) {
                return std::nullopt;
            }
            rule.prefixLength = std::stoi(std::string(prefixPart));
            if (rule.prefixLength > maximum) {
                return std::nullopt;
            }
        }
        return rule;
    }

    auto domain = hostPart;
    if (domain.starts_with("*.")) {
        domain.remove_prefix(2);
    } else if (domain.starts_with('.')) {
        domain.remove_prefix(1);
    }
    rule.kind = Rule::Kind::DOMAIN;
    rule.domain = normalizedHost(domain);
    if (!detail::isHostName(rule.domain) || rule.domain.starts_with('.')) {
        return std::nullopt;
    }
    return rule;
}

bool NoProxyRules::bypasses(std::string_view host, std::uint16_t port) const {
    const auto normalized = normalizedHost(host);
    return std::any_of(rules.begin(), rules.end(),
                       [&](const Rule& rule) { return matches(rule, normalized, port); });
}

bool NoProxyRules::matches(const Rule& rule, std::string_view host, std::uint16_t port) {
    if (rule.port && *rule.port != port) {
        return false;
    }
    switch (rule.kind) {
    case Rule::Kind::ANY:
        return true;
    case Rule::Kind::DOMAIN:
        return host == rule.domain ||
               (host.size() > rule.domain.size() && host.ends_with(rule.domain) &&
                host[host.size() - rule.domain.size() - 1] == '.');
    case Rule::Kind::NETWORK: {
        unsigned char address[16];
        return parseAddress(host, address) == rule.family &&
               prefixMatches(address, rule.address, rule.prefixLength);
    }
    }
    return false;
}

} // namespace foundation::httpproxy
