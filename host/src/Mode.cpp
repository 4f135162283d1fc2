#include "Mode.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tripwire_host {

std::optional<halvexconnector::tripwire::HALVEXServicesMode> parseMode(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "standard") {
        return halvexconnector::tripwire::STANDARD;
    }
    if (lower == "drive") {
        return halvexconnector::tripwire::DRIVE;
    }
    int value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return static_cast<halvexconnector::tripwire::HALVEXServicesMode>(value);
}

} // namespace tripwire_host
