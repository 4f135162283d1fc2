#include <foundation/httpproxy/ProxyUrl.h>

#include "Text.h"

#include <arpa/inet.h>

#include <array>
#include <stdexcept>
#include <utility>

namespace foundation::httpproxy {
namespace {

using detail::lowerCase;

struct SchemeType {
    std::string_view scheme;
    Proxy::Type type;
    std::uint16_t defaultPort;
};

// "socks" alone means SOCKS5, the version every current server speaks.
constexpr std::array<SchemeType, 7> schemeTypes{{
    {"http", Proxy::Type::HTTP, 80},
    {"https", Proxy::Type::HTTPS, 443},
    {"socks", Proxy::Type::SOCKS5, 1080},
    {"socks4", Proxy::Type::SOCKS4, 1080},
    {"socks4a", Proxy::Type::SOCKS4A, 1080},
    {"socks5", Proxy::Type::SOCKS5, 1080},
    {"socks5h", Proxy::Type::SOCKS5H, 1080},
}};

const SchemeType& schemeType(std::string_view scheme) {
    const auto name = lowerCase(scheme);
    for (const auto& entry : schemeTypes) {
        if (entry.scheme == name) {
            return entry;
        }
    }
    throw std::invalid_argument("unsupported proxy scheme \"" + std::string(scheme) + "\"");
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string percentDecode(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result.push_back(text[i]);
            continue;
        }
        const bool complete = i + 2 < text.size();
        const int high = complete ? hexValue(text[i + 1]) : -1;
        const int low = complete ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            throw std::invalid_argument("bad percent escape in the user info");
        }
        const char decoded = static_cast<char>(high * 16 + low);
        if (decoded == '\0') {
            throw std::invalid_argument("the user info decodes to a NUL character");
        }
        result.push_back(decoded);
        i += 2;
    }
    return result;
}

std::optional<ProxyCredentials> credentialsFrom(std::string_view userInfo) {
    if (userInfo.empty()) {
        return std::nullopt;
    }
    const auto colon = userInfo.find(':');
    if (colon == std::string_view::npos) {
        return ProxyCredentials(percentDecode(userInfo), {});
    }
    return ProxyCredentials(percentDecode(userInfo.substr(0, colon)),
                            percentDecode(userInfo.substr(colon + 1)));
}

std::pair<std::string, std::string_view> splitHostPort(std::string_view hostPort) {
    if (hostPort.starts_with('[')) {
        const auto close = hostPort.find(']');
        if (close == std::string_view::npos) {
            throw std::invalid_argument("unclosed '[' in the host");
        }
        const std::string address(hostPort.substr(1, close - 1));
        unsigned char buffer[16];
        if (inet_pton(AF_INET6, address.c_str(), buffer) != 1) {
            throw std::invalid_argument("invalid IPv6 address \"" + address + "\"");
        }
        const auto after = hostPort.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            throw std::invalid_argument("unexpected text after the IPv6 address");
        }
        return {address, after.empty() ? after : after.substr(1)};
    }
    const auto colon = hostPort.find(':');
    const auto host = hostPort.substr(0, colon);
    if (!detail::isHostName(host)) {
        throw std::invalid_argument(host.empty() ? "no host"
                                                 : "invalid host \"" + std::string(host) + "\"");
    }
    return {std::string(host),
            colon == std::string_view::npos ? std::string_view{} : hostPort.substr(colon + 1)};
}

} // namespace

Proxy parseProxyUrl(std::string_view setting) {
    auto rest = detail::trim(setting);
    if (rest.empty()) {
        throw std::invalid_argument("empty proxy setting");
    }
    const SchemeType* type = &schemeTypes.front();
    if (const auto separator = rest.find("://"); separator != std::string_view::npos) {
        type = &schemeType(rest.substr(0, separator));
        rest.remove_prefix(separator + 3);
    }
    const auto authority = rest.substr(0, rest.find_first_of("/?#"));
    const auto at = authority.rfind('@');
    const auto userInfo =
        at == std::string_view::npos ? std::string_view{} : authority.substr(0, at);
    auto [host, portText] =
        splitHostPort(at == std::string_view::npos ? authority : authority.substr(at + 1));
    std::uint16_t port = type->defaultPort;
    if (!portText.empty()) {
        const auto value = detail::parsePort(portText);
        if (!value) {
            throw std::invalid_argument("invalid port \"" + std::string(portText) + "\"");
        }
        port = *value;
    }
    if (auto credentials = credentialsFrom(userInfo)) {
        return Proxy(type->type, std::move(host), port, std::move(*credentials));
    }
    return Proxy(type->type, std::move(host), port);
}

} // namespace foundation::httpproxy
