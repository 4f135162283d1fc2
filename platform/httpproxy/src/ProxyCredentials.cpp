#include <foundation/httpproxy/ProxyCredentials.h>

#include <utility>

namespace foundation::httpproxy {

ProxyCredentials::ProxyCredentials(std::string username, std::string password)
    : username(std::move(username)), password(std::move(password)) {}

ProxyCredentials::~ProxyCredentials() = default;

std::string ProxyCredentials::getUsername() const {
    return username;
}

std::string ProxyCredentials::getPassword() const {
    return password;
}

bool ProxyCredentials::operator==(const ProxyCredentials& other) const {
    return username == other.username && password == other.password;
}

} // namespace foundation::httpproxy
