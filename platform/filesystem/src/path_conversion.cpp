#include <fl/filesystem/path_conversion.h>
#include <fl/i18n/conversion.h>

#include "native.h"

namespace fl::filesystem {

std::string to_utf8(const basic_path& path) {
    return i18n::ustring_to_utf8(path.string());
}

basic_path path_from_utf8(std::string_view utf8, bool form) {
    return basic_path(i18n::utf8_to_ustring(utf8), form);
}

std::filesystem::path to_native(const basic_path& path) {
    return std::filesystem::path(detail::native_bytes(path));
}

basic_path path_from_native(const std::filesystem::path& native, bool form) {
    return basic_path(i18n::detail::bytes_to_ustring_escaped(native.native()), form);
}

namespace detail {

std::string native_bytes(const ustring& text) {
    return i18n::detail::ustring_to_bytes_escaped(text);
}

} // namespace detail

} // namespace fl::filesystem
