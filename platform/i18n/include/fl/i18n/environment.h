#pragma once

#include <fl/i18n/ustring.h>

#include <string>

namespace fl::i18n {

/// The value of environment variable `name` (UTF-8) as UTF-16; empty when the variable is unset
/// or set to nothing. A value that is not valid UTF-8 throws conversion_error naming the variable.
ustring getenv(const std::string& name);

} // namespace fl::i18n
