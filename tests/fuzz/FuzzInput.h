#pragma once

// Splits a fuzz input into fields at the first `count - 1` line feeds, so one input can feed a
// parser several related texts (a setting and a URL, a version and a required version).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tripwire_fuzz {

inline std::vector<std::string> splitFields(const std::uint8_t* data, std::size_t size,
                                            std::size_t count) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields;
    while (fields.size() + 1 < count) {
        const auto end = rest.find('\n');
        if (end == std::string_view::npos) {
            break;
        }
        fields.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    fields.emplace_back(rest);
    fields.resize(count);
    return fields;
}

} // namespace tripwire_fuzz
