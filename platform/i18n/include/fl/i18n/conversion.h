#pragma once

#include <fl/i18n/conversion_error.h>
#include <fl/i18n/ustring.h>

#include <string>
#include <string_view>

namespace fl::i18n {

/// UTF-8 to UTF-16. Throws conversion_error on any invalid input.
ustring utf8_to_ustring(std::string_view utf8);

/// UTF-16 to UTF-8. Throws conversion_error on lone or reversed surrogates.
std::string ustring_to_utf8(std::u16string_view text);

namespace detail {

/// Lossless mapping between arbitrary byte strings (Linux file names need not be UTF-8) and
/// UTF-16: valid UTF-8 converts as usual, each byte of an invalid sequence becomes the lone
/// surrogate U+DC80..U+DCFF. ustring_to_bytes_escaped reverses it exactly. Only the
/// file-system layer uses these; the strict functions above reject escaped text.
ustring bytes_to_ustring_escaped(std::string_view bytes);
std::string ustring_to_bytes_escaped(std::u16string_view text);

} // namespace detail

} // namespace fl::i18n
