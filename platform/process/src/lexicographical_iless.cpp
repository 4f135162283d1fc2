#include "foundation/core/util/lexicographical_iless.h"

#include <algorithm>

namespace foundation::core::util {

namespace {

unsigned char foldAscii(char c) noexcept {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

} // namespace

bool lexicographical_iless::operator()(std::string_view left,
                                       std::string_view right) const noexcept {
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](char a, char b) { return foldAscii(a) < foldAscii(b); });
}

} // namespace foundation::core::util
