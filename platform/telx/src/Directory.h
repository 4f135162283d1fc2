#pragma once

#include <filesystem>

namespace telx::detail {

/// Makes sure `dir` exists as a directory, creating it and any missing parents owner-only
/// (0700). Existing directories keep their mode. Throws telx::WriteError.
void createPrivateDirectories(const std::filesystem::path& dir);

} // namespace telx::detail
