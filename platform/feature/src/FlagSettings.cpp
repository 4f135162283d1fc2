#include "FlagSettings.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

namespace foundation::feature::detail {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool isValidName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    });
}

std::optional<bool> parseValue(std::string_view value) {
    std::string lower(value);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; });
    if (lower == "on" || lower == "true" || lower == "yes" || lower == "1") {
        return true;
    }
    if (lower == "off" || lower == "false" || lower == "no" || lower == "0") {
        return false;
    }
    return std::nullopt;
}

struct Entry {
    std::string_view name;
    bool on;
};

std::optional<Entry> parseEntry(std::string_view entry) {
    entry = trim(entry);
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) {
        return isValidName(entry) ? std::optional<Entry>(Entry{entry, true}) : std::nullopt;
    }
    const auto name = trim(entry.substr(0, equals));
    const auto value = parseValue(trim(entry.substr(equals + 1)));
    if (!isValidName(name) || !value) {
        return std::nullopt;
    }
    return Entry{name, *value};
}

} // namespace

bool isFlagOn(std::string_view settings, std::string_view name) {
    bool on = false;
    while (!settings.empty()) {
        const auto comma = settings.find(',');
        const auto entry = parseEntry(settings.substr(0, comma));
        if (entry && entry->name == name) {
            on = entry->on;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        settings.remove_prefix(comma + 1);
    }
    return on;
}

bool isFlagOnNow(std::string_view name) {
    // Copy at once: the environment may change after this call returns.
    const char* raw = std::getenv(flagSettingsVariable);
    const std::string settings = raw != nullptr ? raw : "";
    return isFlagOn(settings, name);
}

} // namespace foundation::feature::detail
