#pragma once

#include <string>

namespace fl::i18n {

/// Text as UTF-16 code units. Paths, directory entries and environment values travel as ustring;
/// log and telemetry text is UTF-8 (std::string).
using ustring = std::u16string;

} // namespace fl::i18n

namespace fl {
using i18n::ustring;
} // namespace fl
