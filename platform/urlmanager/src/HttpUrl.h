#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace foundation::urlmanager::detail {

/// The text as a base URL when it is an absolute http or https URL with a host and no blanks or
/// control characters: the scheme in lower case, trailing slashes removed. Empty otherwise.
std::optional<std::string> normalizeHttpUrl(std::string_view text);

} // namespace foundation::urlmanager::detail
