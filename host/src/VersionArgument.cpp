#include "VersionArgument.h"

#include <charconv>

namespace tripwire_host {

std::optional<std::array<std::uint32_t, 4>> parseVersion(std::string_view text) {
    std::array<std::uint32_t, 4> parts{};
    const char* position = text.data();
    const char* const end = text.data() + text.size();
    for (std::size_t index = 0; index < parts.size(); ++index) {
        if (index > 0) {
            if (position == end || *position != '.') {
                return std::nullopt;
            }
            ++position;
        }
        // from_chars takes digits only here: no sign, no blank, and it reports overflow.
        if (position == end || *position < '0' || *position > '9') {
            return std::nullopt;
        }
        const auto [next, error] = std::from_chars(position, end, parts[index]);
        if (error != std::errc()) {
            return std::nullopt;
        }
        position = next;
    }
    if (position != end) {
        return std::nullopt;
    }
    return parts;
}

} // namespace tripwire_host
