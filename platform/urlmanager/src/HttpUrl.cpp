#include "HttpUrl.h"

#include <algorithm>
#include <cctype>

namespace foundation::urlmanager::detail {
namespace {

std::string lowerCase(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool hasUnsafeCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) {
        return c <= 0x20 || c == 0x7f || c == '\\' || c == '"' || c == '<' || c == '>';
    });
}

// The authority is what follows "//" up to the path, query or fragment; its host part (after
// any user info, before any port) must not be empty, and a port must be decimal and in range.
bool hasValidAuthority(std::string_view rest) {
    const auto authority = rest.substr(0, rest.find_first_of("/?#"));
    auto hostPort = authority.substr(
        authority.rfind('@') == std::string_view::npos ? 0 : authority.rfind('@') + 1);
    std::string_view host = hostPort;
    std::string_view port;
    if (hostPort.starts_with('[')) {
        const auto close = hostPort.find(']');
        if (close == std::string_view::npos || close == 1) {
            return false;
        }
        host = hostPort.substr(0, close + 1);
        const auto after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                return false;
            }
            port = after.substr(1);
        }
    } else if (const auto colon = hostPort.find(':'); colon != std::string_view::npos) {
        host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
        if (port.empty()) {
            return false;
        }
    }
    if (host.empty()) {
        return false;
    }
    if (port.empty()) {
        return true;
    }
    if (port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return false;
    }
    const auto value = std::stoul(std::string(port));
    return value > 0 && value <= 65535;
}

} // namespace

std::optional<std::string> normalizeHttpUrl(std::string_view text) {
    if (text.empty() || hasUnsafeCharacter(text)) {
        return std::nullopt;
    }
    const auto separator = text.find("://");
    if (separator == std::string_view::npos) {
        return std::nullopt;
    }
    const auto scheme = lowerCase(text.substr(0, separator));
    if (scheme != "http" && scheme != "https") {
        return std::nullopt;
    }
    const auto rest = text.substr(separator + 3);
    if (!hasValidAuthority(rest)) {
        return std::nullopt;
    }
    std::string result = scheme + "://" + std::string(rest);
    while (result.ends_with('/')) {
        result.pop_back();
    }
    return result;
}

} // namespace foundation::urlmanager::detail
