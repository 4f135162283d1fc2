#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tripwire::testsupport {

/// A plain-http forward proxy on 127.0.0.1 (no CONNECT): it takes requests in absolute form,
/// fetches them from the origin and relays status, Content-Type, Location and body. With
/// credentials it answers 407 to any request without the matching Basic Proxy-Authorization.
class ForwardProxy {
public:
    struct Credentials {
        std::string username;
        std::string password;
    };

    explicit ForwardProxy(std::optional<Credentials> required = std::nullopt);
    ~ForwardProxy();
    ForwardProxy(const ForwardProxy&) = delete;
    ForwardProxy& operator=(const ForwardProxy&) = delete;

    int port() const;
    /// "http://127.0.0.1:<port>"
    std::string url() const;

    /// The absolute targets that were forwarded, in order.
    std::vector<std::string> forwarded() const;

private:
    struct State;
    std::shared_ptr<State> state;
};

} // namespace tripwire::testsupport
