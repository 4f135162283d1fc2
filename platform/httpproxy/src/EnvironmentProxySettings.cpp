#include <foundation/httpproxy/EnvironmentProxySettings.h>

#include <foundation/httpproxy/NoProxyRules.h>
#include <foundation/httpproxy/ProxyUrl.h>

#include "Text.h"

#include <foundation/log/log.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

namespace foundation::httpproxy {
namespace {

constexpr foundation::log::severity_type warningSeverity = 8;

foundation::log::diagnostic_logger& logger() {
    static foundation::log::diagnostic_logger instance("foundation::httpproxy");
    return instance;
}

// Settings are read on every request; a bad one is reported the first time it is seen only, so
// that a long-running host does not repeat the same record for every request. The values may
// hold passwords: they are kept in memory only and never written to the log.
bool firstTimeSeen(const std::string& what, const std::string& value) {
    static std::mutex mutex;
    static std::set<std::pair<std::string, std::string>> seen;
    constexpr std::size_t capacity = 1024; // bounded: URLs come from callers
    std::lock_guard lock(mutex);
    if (seen.size() >= capacity) {
        return true;
    }
    return seen.emplace(what, value).second;
}

template <typename... Parts>
void warnOnce(const std::string& what, const std::string& value, const Parts&... parts) {
    if (firstTimeSeen(what, value)) {
        foundation::log::write_record(logger(), warningSeverity, parts...);
    }
}

std::optional<std::string> processVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::string upperCase(std::string text) {
    for (auto& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::string schemeVariableOf(const std::string& scheme) {
    if (scheme == "ws") {
        return "http_proxy";
    }
    if (scheme == "wss") {
        return "https_proxy";
    }
    return scheme + "_proxy";
}

ProxyList direct() {
    return ProxyList{Proxy::NO_PROXY};
}

} // namespace

EnvironmentProxySettings::EnvironmentProxySettings() : lookup(processVariable) {}

EnvironmentProxySettings::EnvironmentProxySettings(Lookup lookup) : lookup(std::move(lookup)) {}

std::optional<std::string>
EnvironmentProxySettings::variable(const std::string& lowerCaseName) const {
    for (const auto& name : {lowerCaseName, upperCase(lowerCaseName)}) {
        if (auto value = lookup(name); value && !detail::trim(*value).empty()) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<Proxy> EnvironmentProxySettings::proxyFrom(const std::string& lowerCaseName) const {
    const auto value = variable(lowerCaseName);
    if (!value) {
        return std::nullopt;
    }
    try {
        return parseProxyUrl(*value);
    } catch (const std::invalid_argument& error) {
        warnOnce(lowerCaseName, *value, "Ignoring the proxy setting ", lowerCaseName, ": ",
                 error.what(), "\n");
        return std::nullopt;
    }
}

ProxyList EnvironmentProxySettings::select(const std::string& url) const {
    const auto target = detail::parseTargetUrl(url);
    if (!target) {
        warnOnce("url", url, "No proxy for a URL that cannot be read: \"", url, "\"\n");
        return direct();
    }
    if (const auto noProxy = variable("no_proxy")) {
        std::vector<std::string> rejected;
        const auto rules = NoProxyRules::parse(*noProxy, &rejected);
        for (const auto& entry : rejected) {
            warnOnce("no_proxy", entry, "Ignoring the entry \"", entry,
                     "\" of the proxy setting no_proxy\n");
        }
        if (rules.bypasses(target->host, target->port)) {
            return direct();
        }
    }
    for (const auto& name : {schemeVariableOf(target->scheme), std::string("all_proxy")}) {
        if (auto proxy = proxyFrom(name)) {
            return ProxyList{std::move(*proxy)};
        }
    }
    return direct();
}

} // namespace foundation::httpproxy
