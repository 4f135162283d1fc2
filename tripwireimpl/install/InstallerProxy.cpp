#include "install/InstallerProxy.h"

#include "ServiceLookup.h"

#include <foundation/httpproxy/ProxySelector.h>
#include <foundation/urlmanager/UrlManager.h>

#include <cppmicroservices/LDAPFilter.h>

#include <memory>
#include <string>
#include <utility>

namespace halvexconnector::tripwireimpl {

const char* const proxyHostVariable = "QB_PROXY_HOST";
const char* const proxyPortVariable = "QB_PROXY_PORT";
const char* const proxyUsernameVariable = "QB_PROXY_USERNAME";
const char* const proxyPasswordVariable = "QB_PROXY_PASSWORD";

namespace {

std::string makerDomainUrl() {
    const std::shared_ptr<foundation::urlmanager::UrlManager> urls =
        foundation::urlmanager::createUrlManager();
    return urls->getUrl(foundation::urlmanager::QUILLBECK_DOT_COM);
}

// Replaces an entry of the same name in any case and stores it under our spelling: the map
// compares names without regard to case, but the installer on this system reads them exactly.
void setEntry(foundation::core::process::environment_map& environment, const char* name,
              std::string value) {
    environment.erase(name);
    environment.emplace(name, std::move(value));
}

} // namespace

void configureInstallerProxy(foundation::core::process::context& context) {
    const std::shared_ptr<foundation::httpproxy::ProxySelector> selector =
        getService<foundation::httpproxy::ProxySelector>(cppmicroservices::LDAPFilter());
    if (!selector) {
        return;
    }
    const foundation::httpproxy::ProxyList proxies = selector->select(makerDomainUrl());
    if (proxies.empty()) {
        return;
    }
    const foundation::httpproxy::Proxy& proxy = proxies.front();
    if (proxy == foundation::httpproxy::Proxy::NO_PROXY) {
        return;
    }
    const std::string& host = proxy.getHost();
    if (host.empty()) {
        return;
    }
    foundation::core::process::environment_map& environment = context.environment();
    setEntry(environment, proxyHostVariable, host);
    setEntry(environment, proxyPortVariable, std::to_string(proxy.getPort()));
    if (proxy.hasCredentials()) {
        const foundation::httpproxy::ProxyCredentials& credentials = proxy.getCredentials();
        setEntry(environment, proxyUsernameVariable, credentials.getUsername());
        setEntry(environment, proxyPasswordVariable, credentials.getPassword());
    }
}

} // namespace halvexconnector::tripwireimpl
