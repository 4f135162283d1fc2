#include <fl/filesystem/filesystem_error.h>
#include <fl/i18n/conversion.h>

#include <boost/throw_exception.hpp>

#include <cstdio>

#include "native.h"

namespace fl::filesystem {
namespace {

std::string describe(const std::string& operation, const std::string& path,
                     const std::string& path2, std::error_code code) {
    std::string text = operation + ": " + code.message() + ": \"" + path + "\"";
    if (!path2.empty()) {
        text += ", \"" + path2 + "\"";
    }
    return text;
}

} // namespace

filesystem_error::filesystem_error(const std::string& operation, const std::string& path,
                                   std::error_code code)
    : filesystem_error(operation, path, std::string(), code) {}

filesystem_error::filesystem_error(const std::string& operation, const std::string& path,
                                   const std::string& path2, std::error_code code)
    : std::runtime_error(describe(operation, path, path2, code)), operation_(operation),
      path1_(path), path2_(path2), code_(code) {
    *this << errinfo_operation(operation) << errinfo_path(path)
          << errinfo_system_message(code.message());
    if (!path2.empty()) {
        *this << errinfo_path2(path2);
    }
}

namespace detail {

void throw_invalid_operation_exception(const char* what) {
    throw invalid_operation_exception(what);
}

std::string display(const std::string& native) {
    // Valid UTF-8 stays as it is; any other byte becomes \xNN.
    const fl::i18n::ustring text = fl::i18n::detail::bytes_to_ustring_escaped(native);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < text.size()) {
            out += fl::i18n::ustring_to_utf8(std::u16string_view(text).substr(i, 2));
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(unit - 0xDC00));
            out += buffer;
        } else {
            out += fl::i18n::ustring_to_utf8(std::u16string_view(text).substr(i, 1));
        }
    }
    return out;
}

void throw_system_error(const char* operation, const std::string& native, int error) {
    throw filesystem_error(operation, display(native),
                           std::error_code(error, std::system_category()));
}

void throw_system_error(const char* operation, const std::string& native,
                        const std::string& native2, int error) {
    throw filesystem_error(operation, display(native), display(native2),
                           std::error_code(error, std::system_category()));
}

} // namespace detail

} // namespace fl::filesystem
