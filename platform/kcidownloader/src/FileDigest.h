#pragma once

#include <filesystem>
#include <string>

namespace halvexconnector::latestversion::kcidownloader {

/// The lower-case hex SHA-256 of a file, read in chunks. Throws DownloadError (FILE_SYSTEM).
std::string sha256OfFile(const std::filesystem::path& file);

} // namespace halvexconnector::latestversion::kcidownloader
