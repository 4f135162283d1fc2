#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace halvexconnector::latestversion::kciextractor::detail {

/// The components of a relative, '/'-separated name inside the extraction directory, with empty
/// and "." components dropped; none for a name of nothing but "." and separators (the directory
/// itself, as in a "./" entry). Throws std::invalid_argument, saying why, for a name that is
/// empty, absolute, or holds a ".." component or a '\' (which some systems read as a separator).
std::vector<std::string> entryComponents(std::string_view name);

/// The components joined with '/': the canonical key of a name.
std::string joinComponents(const std::vector<std::string>& components);

} // namespace halvexconnector::latestversion::kciextractor::detail
