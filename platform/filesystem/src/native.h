#pragma once

// Helpers shared by the implementation files; not installed.

#include <fl/filesystem/basic_path.h>
#include <fl/filesystem/filesystem_error.h>

#include <string>

namespace fl::filesystem::detail {

/// The bytes the system sees for a path text (lossless for names that are not UTF-8).
std::string native_bytes(const ustring& text);
inline std::string native_bytes(const basic_path& path) {
    return native_bytes(path.string());
}

/// A path as readable UTF-8 for messages; bytes that are not UTF-8 appear as \xNN.
std::string display(const std::string& native);

/// Throws filesystem_error for `operation` on `native` with the system error `error`.
[[noreturn]] void throw_system_error(const char* operation, const std::string& native, int error);
[[noreturn]] void throw_system_error(const char* operation, const std::string& native,
                                     const std::string& native2, int error);

} // namespace fl::filesystem::detail
