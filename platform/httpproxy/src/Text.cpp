#include "Text.h"

#include <algorithm>
#include <cctype>

namespace foundation::httpproxy::detail {
namespace {

bool isSchemeText(std::string_view text) {
    return !text.empty() && std::isalpha(static_cast<unsigned char>(text.front())) &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '+' || c == '-' || c == '.';
           });
}

std::uint16_t defaultPortOf(std::string_view scheme) {
    if (scheme == "http" || scheme == "ws") {
        return 80;
    }
    if (scheme == "https" || scheme == "wss") {
        return 443;
    }
    if (scheme == "ftp") {
        return 21;
    }
    return 0;
}

} // namespace

std::string lowerCase(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string_view trim(std::string_view text) {
    const auto isBlank = [](unsigned char c) {
        return std::isspace(c) != 0;
    };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

bool isHostName(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.';
    });
}

std::optional<TargetUrl> parseTargetUrl(std::string_view url) {
    url = trim(url);
    const auto separator = url.find("://");
    if (separator == std::string_view::npos || !isSchemeText(url.substr(0, separator))) {
        return std::nullopt;
    }
    TargetUrl target;
    target.scheme = lowerCase(url.substr(0, separator));
    auto authority = url.substr(separator + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = authority.substr(1, close - 1);
        const auto after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return std::nullopt;
            }
            port = after.substr(1);
        }
        if (host.empty() ||
            host.find_first_not_of("0123456789abcdefABCDEF:.%") != std::string_view::npos) {
            return std::nullopt;
        }
    } else {
        if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
        }
        if (!isHostName(host)) {
            return std::nullopt;
        }
    }
    target.host = lowerCase(host);
    while (target.host.ends_with('.')) {
        target.host.pop_back();
    }
    if (target.host.empty()) {
        return std::nullopt;
    }
    if (port.empty()) {
        target.port = defaultPortOf(target.scheme);
    } else if (const auto value = parsePort(port)) {
        target.port = *value;
    } else {
        return std::nullopt;
    }
    return target;
}

} // namespace foundation::httpproxy::detail
