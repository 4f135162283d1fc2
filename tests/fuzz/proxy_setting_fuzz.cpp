// Input: a proxy URL, a no_proxy list and a target URL, one a line.
#include "FuzzSupport.h"

#include <foundation/httpproxy/EnvironmentProxySettings.h>
#include <foundation/httpproxy/NoProxyRules.h>
#include <foundation/httpproxy/ProxyUrl.h>

#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace proxy = foundation::httpproxy;
    const auto fields = tripwire_fuzz::splitFields(data, size, 3);
    const std::string &setting = fields[0], &noProxy = fields[1], &url = fields[2];
    try {
        const proxy::Proxy parsed = proxy::parseProxyUrl(setting);
        if (parsed.getType() == proxy::Proxy::Type::DIRECT || parsed.getHost().empty() ||
            parsed.getPort() == 0)
            tripwire_fuzz::violation("a proxy without a type, host or port");
        (void)parsed.toUrl();
    } catch (const std::invalid_argument&) {
    }
    std::vector<std::string> rejected;
    const auto rules = proxy::NoProxyRules::parse(noProxy, &rejected);
    (void)rules.bypasses(url, 443);
    const proxy::EnvironmentProxySettings settings(
        [&](const std::string& name) -> std::optional<std::string> {
            if (name == "no_proxy")
                return noProxy;
            if (name == "http_proxy" || name == "https_proxy" || name == "ALL_PROXY")
                return setting;
            return std::nullopt;
        });
    if (settings.select(url).size() != 1)
        tripwire_fuzz::violation("a selection without exactly one entry");
    return 0;
}
