#pragma once

#include <fl/i18n/ustring.h>

#include <boost/optional.hpp>

#include <filesystem>
#include <optional>

namespace halvexconnector::folderlocations::detail {

// An override given as path text, in the system's form; empty text counts as absent.
std::optional<std::filesystem::path> toNative(const boost::optional<fl::ustring>& text);

} // namespace halvexconnector::folderlocations::detail
