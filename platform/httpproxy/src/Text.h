#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace foundation::httpproxy::detail {

std::string lowerCase(std::string_view text);
std::string_view trim(std::string_view text);
/// A port of 1 to 65535 written in decimal digits only; nothing otherwise.
std::optional<std::uint16_t> parsePort(std::string_view text);
/// Whether text is a host name we accept: letters, digits, '-', '_' and '.', not empty.
bool isHostName(std::string_view text);

/// The parts of an absolute URL that proxy selection needs.
struct TargetUrl {
    std::string scheme;     // lower case
    std::string host;       // lower case, IPv6 without brackets, no trailing dot
    std::uint16_t port = 0; // explicit, else the scheme's default, else 0
};

/// Reads "scheme://[userinfo@]host[:port][/...]"; nothing when that is not its shape.
std::optional<TargetUrl> parseTargetUrl(std::string_view url);

} // namespace foundation::httpproxy::detail
