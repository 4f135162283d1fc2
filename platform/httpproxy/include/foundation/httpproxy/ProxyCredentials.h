#pragma once

#include <string>

namespace foundation::httpproxy {

/// The user name and password that a proxy asks for. Both texts are UTF-8 and already
/// percent-decoded; either may be empty.
class ProxyCredentials {
public:
    ProxyCredentials() = default;
    ProxyCredentials(std::string username, std::string password);

    virtual std::string getUsername() const;
    virtual std::string getPassword() const;

    virtual ~ProxyCredentials();

    ProxyCredentials(const ProxyCredentials&) = default;
    ProxyCredentials& operator=(const ProxyCredentials&) = default;
    ProxyCredentials(ProxyCredentials&&) = default;
    ProxyCredentials& operator=(ProxyCredentials&&) = default;

    bool operator==(const ProxyCredentials& other) const;

private:
    std::string username;
    std::string password;
};

} // namespace foundation::httpproxy
