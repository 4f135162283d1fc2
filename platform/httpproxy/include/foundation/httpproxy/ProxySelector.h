#pragma once

#include <foundation/httpproxy/ProxyList.h>

#include <string>

namespace foundation::httpproxy {

/// The framework service that says how to reach a URL. Its interface id is the type's name,
/// "foundation::httpproxy::ProxySelector". Implementations are safe to call from several
/// threads at once and read the user's settings anew on every call.
class ProxySelector {
public:
    /// The proxies for an absolute URL ("https://host/path"), best first. Never throws for a
    /// malformed URL or setting: the answer is then a direct connection.
    virtual ProxyList select(const std::string& url) = 0;

    virtual ~ProxySelector();
};

} // namespace foundation::httpproxy
