#pragma once

#include <fl/filesystem/basic_path.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace fl::filesystem {

/// Conversions for libraries that talk to the system or to UTF-8 APIs.
/// Strict UTF-8: throws fl::i18n::conversion_error when the path holds a name that is not
/// valid UTF-8 (such names come only from directory listings, see to_native).
std::string to_utf8(const basic_path& path);

/// Builds a path from UTF-8 text (form flag as given). Throws on invalid UTF-8.
basic_path path_from_utf8(std::string_view utf8, bool form = true);

/// The exact bytes the system sees; lossless also for file names that are not UTF-8.
std::filesystem::path to_native(const basic_path& path);

/// Builds a path from a system path; lossless for any byte sequence.
basic_path path_from_native(const std::filesystem::path& native, bool form = true);

} // namespace fl::filesystem
