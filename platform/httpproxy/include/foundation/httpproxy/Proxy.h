#pragma once

#include <foundation/httpproxy/ProxyCredentials.h>

#include <cstdint>
#include <optional>
#include <string>

namespace foundation::httpproxy {

/// One way to reach a URL: directly (NO_PROXY) or through a proxy server.
class Proxy {
public:
    /// The protocol spoken to the proxy. The SOCKS variants with a trailing A or H let the proxy
    /// resolve the target host name.
    enum class Type { DIRECT, HTTP, HTTPS, SOCKS4, SOCKS4A, SOCKS5, SOCKS5H };

    /// The entry that means: connect directly, no proxy.
    static const Proxy NO_PROXY;

    /// A direct connection (equal to NO_PROXY).
    Proxy();
    Proxy(Type type, std::string host, std::uint16_t port);
    Proxy(Type type, std::string host, std::uint16_t port, ProxyCredentials credentials);

    Type getType() const { return type; }
    /// The host name or IP address (IPv6 without brackets); empty for NO_PROXY.
    const std::string& getHost() const { return host; }
    std::uint16_t getPort() const { return port; }
    bool hasCredentials() const { return credentials.has_value(); }
    /// The credentials; empty ones when hasCredentials() is false.
    const ProxyCredentials& getCredentials() const;

    /// The scheme text of the type as a proxy URL writes it: "http", "https", "socks4",
    /// "socks4a", "socks5", "socks5h"; empty for DIRECT.
    std::string getScheme() const;
    /// "scheme://host:port" (IPv6 hosts in brackets), without credentials; empty for DIRECT.
    std::string toUrl() const;

    bool operator==(const Proxy& other) const;

private:
    Type type = Type::DIRECT;
    std::string host;
    std::uint16_t port = 0;
    std::optional<ProxyCredentials> credentials;
};

} // namespace foundation::httpproxy
