#include "EnvironmentUrlManager.h"

#include "HttpUrl.h"

#include <foundation/log/log.h>

#include <cstdlib>
#include <map>
#include <stdexcept>

namespace foundation::urlmanager::detail {
namespace {

constexpr foundation::log::severity_type warningSeverity = 8;

foundation::log::diagnostic_logger& logger() {
    static foundation::log::diagnostic_logger instance("foundation::urlmanager");
    return instance;
}

const std::map<std::string, std::string, std::less<>>& builtInUrls() {
    static const std::map<std::string, std::string, std::less<>> urls{
        {QUILLBECK_DOT_COM, "https://www.quillbeck.com"},
    };
    return urls;
}

// The override of key, or nothing when it is unset, empty or not an http(s) URL.
std::optional<std::string> overrideOf(const std::string& key) {
    const std::string variable = "QB_URL_" + key;
    const char* value = std::getenv(variable.c_str());
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    auto url = normalizeHttpUrl(value);
    if (!url) {
        foundation::log::write_record(logger(), warningSeverity, "Ignoring ", variable,
                                      ": not an absolute http or https URL: \"", value, "\"\n");
    }
    return url;
}

} // namespace

std::string EnvironmentUrlManager::getUrl(const std::string& key) const {
    if (auto url = overrideOf(key)) {
        return *url;
    }
    const auto& urls = builtInUrls();
    if (const auto found = urls.find(key); found != urls.end()) {
        return found->second;
    }
    throw std::out_of_range("No URL is known for the key \"" + key + "\"");
}

} // namespace foundation::urlmanager::detail
