// Feeds arbitrary text to the proxy setting readers: one proxy URL, a no_proxy list and a target
// URL, separated by line feeds. Besides crashes it checks that a selection never throws, always
// has one entry, and that a proxy read from a setting has a host and a port.
#include <foundation/httpproxy/EnvironmentProxySettings.h>
#include <foundation/httpproxy/NoProxyRules.h>
#include <foundation/httpproxy/ProxyUrl.h>

#include "FuzzInput.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace proxy = foundation::httpproxy;

[[noreturn]] void violation(const char* what) {
    std::fprintf(stderr, "proxy setting fuzz: %s\n", what);
    std::abort();
}

void checkProxyUrl(const std::string& setting) {
    try {
        const proxy::Proxy parsed = proxy::parseProxyUrl(setting);
        if (parsed.getType() == proxy::Proxy::Type::DIRECT || parsed.getHost().empty() ||
            parsed.getPort() == 0) {
            violation("a proxy without a type, host or port");
        }
        (void)parsed.toUrl();
    } catch (const std::invalid_argument&) {
    }
}

void checkNoProxy(const std::string& setting, const std::string& host) {
    std::vector<std::string> rejected;
    const auto rules = proxy::NoProxyRules::parse(setting, &rejected);
    (void)rules.bypasses(host, 0);
    (void)rules.bypasses(host, 443);
}

void checkSelection(const std::string& proxyUrl, const std::string& noProxy,
                    const std::string& url) {
    const proxy::EnvironmentProxySettings settings(
        [&](const std::string& name) -> std::optional<std::string> {
            if (name == "no_proxy") {
                return noProxy;
            }
            if (name == "http_proxy" || name == "https_proxy" || name == "ALL_PROXY") {
                return proxyUrl;
            }
            return std::nullopt;
        });
    const proxy::ProxyList chosen = settings.select(url);
    if (chosen.size() != 1) {
        violation("a selection without exactly one entry");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = tripwire_fuzz::splitFields(data, size, 3);
    const std::string& proxyUrl = fields[0];
    const std::string& noProxy = fields[1];
    const std::string& url = fields[2];
    checkProxyUrl(proxyUrl);
    checkNoProxy(noProxy, url);
    checkSelection(proxyUrl, noProxy, url);
    return 0;
}
