#pragma once

#include <foundation/httpproxy/ProxyList.h>

#include <functional>
#include <optional>
#include <string>

namespace foundation::httpproxy {

/// Picks the proxy for a URL from the user's proxy variables:
/// 1. "no_proxy" (see NoProxyRules) names the host: a direct connection;
/// 2. else "<scheme>_proxy" of the URL's scheme ("http_proxy", "https_proxy"; ws and wss use
///    those of http and https);
/// 3. else "all_proxy";
/// 4. else a direct connection.
/// Each variable is read in lower case first, then in upper case; an empty value counts as
/// unset. A value that cannot be read (see parseProxyUrl) is ignored, as if unset, with a log
/// record of logger "foundation::httpproxy" (once per distinct value and process).
class EnvironmentProxySettings {
public:
    /// The value of an environment variable, or nothing when unset.
    using Lookup = std::function<std::optional<std::string>(const std::string& name)>;

    /// Reads the process environment at every select().
    EnvironmentProxySettings();
    explicit EnvironmentProxySettings(Lookup lookup);

    /// Always one entry: the proxy to use, or Proxy::NO_PROXY (also for a URL that cannot be
    /// read, with a log record). Never throws for bad input.
    ProxyList select(const std::string& url) const;

private:
    std::optional<std::string> variable(const std::string& lowerCaseName) const;
    std::optional<Proxy> proxyFrom(const std::string& lowerCaseName) const;

    Lookup lookup;
};

} // namespace foundation::httpproxy
