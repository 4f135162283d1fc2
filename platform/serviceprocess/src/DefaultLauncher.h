#pragma once

#include <fl/filesystem/basic_path.h>

#include <optional>

namespace halvexconnector::serviceprocess::client_lifetime::detail {

/// The launcher of the latest installation under the standard root, without folder overrides;
/// empty when none is installed or discovery fails.
std::optional<fl::filesystem::basic_path> installedLauncher();

} // namespace halvexconnector::serviceprocess::client_lifetime::detail
