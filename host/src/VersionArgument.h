#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tripwire_host {

// "a.b.c.d": exactly four decimal numbers of at most 32 bits, nothing else (no signs, blanks or
// empty parts).
std::optional<std::array<std::uint32_t, 4>> parseVersion(std::string_view text);

} // namespace tripwire_host
