#include <foundation/httpproxy/Proxy.h>

#include <utility>

namespace foundation::httpproxy {

const Proxy Proxy::NO_PROXY{};

Proxy::Proxy() = default;

Proxy::Proxy(Type type, std::string host, std::uint16_t port)
    : type(type), host(std::move(host)), port(port) {}

Proxy::Proxy(Type type, std::string host, std::uint16_t port, ProxyCredentials credentials)
    : type(type), host(std::move(host)), port(port), credentials(std::move(credentials)) {}

const ProxyCredentials& Proxy::getCredentials() const {
    static const ProxyCredentials none;
    return credentials ? *credentials : none;
}

std::string Proxy::getScheme() const {
    switch (type) {
    case Type::HTTP:
        return "http";
    case Type::HTTPS:
        return "https";
    case Type::SOCKS4:
        return "socks4";
    case Type::SOCKS4A:
        return "socks4a";
    case Type::SOCKS5:
        return "socks5";
    case Type::SOCKS5H:
        return "socks5h";
    case Type::DIRECT:
        break;
    }
    return {};
}

std::string Proxy::toUrl() const {
    if (type == Type::DIRECT) {
        return {};
    }
    const bool ipv6 = host.find(':') != std::string::npos;
    return getScheme() + "://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool Proxy::operator==(const Proxy& other) const {
    return type == other.type && host == other.host && port == other.port &&
           credentials == other.credentials;
}

} // namespace foundation::httpproxy
