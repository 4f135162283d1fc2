#pragma once

#include <string_view>

namespace foundation::core::util {

/// Orders texts byte by byte with the ASCII letters folded to lower case, so that "Path" and
/// "PATH" are one key of a map. Other bytes (UTF-8 sequences included) compare by value.
struct lexicographical_iless {
    using is_transparent = void;

    bool operator()(std::string_view left, std::string_view right) const noexcept;
};

} // namespace foundation::core::util
