#pragma once

#include "halvexconnector/latestversion/kciextractor/ExtractionLimits.h"
#include "halvexconnector/latestversion/kciextractor/KCIExtractionError.h"

#include <fl/filesystem/basic_path.h>

#include <string>
#include <utility>

namespace halvexconnector::latestversion::kciextractor {

/// The diagnostic logger that says why an extraction yielded no installer.
inline constexpr const char* kExtractorLoggerName = "halvexconnector::latestversion::kciextractor";
/// Severity of those records.
inline constexpr unsigned kNoInstallerSeverity = 8;

/// Extracts a kci archive (see README.md for the layout) into the new directory
/// "<archive's directory>/<archive's stem>.extracted" and returns the full path of the installer
/// inside it (execute bit set) together with the version text of "kci.json".
///
/// A directory of that name left over from an earlier run is removed first. When the archive
/// holds no "kci.json", or its installer is not a file of the archive, the result is an empty
/// path and an empty version, the reason goes to the diagnostic log and nothing is left on disk.
/// Throws KCIExtractionError for an archive that is unreadable, corrupt or unsafe, and for a
/// malformed "kci.json"; fl::filesystem::filesystem_error or std::system_error when the file
/// system fails. Whatever the failure, the extraction directory is gone afterwards.
std::pair<fl::filesystem::basic_path, std::string>
extractKCIAndReturnVersion(const fl::filesystem::basic_path& archive);

/// As above, with explicit limits (tests use small ones).
std::pair<fl::filesystem::basic_path, std::string>
extractKCIAndReturnVersion(const fl::filesystem::basic_path& archive,
                           const ExtractionLimits& limits);

/// The installer path of extractKCIAndReturnVersion alone.
fl::filesystem::basic_path extractKCI(const fl::filesystem::basic_path& archive);
fl::filesystem::basic_path extractKCI(const fl::filesystem::basic_path& archive,
                                      const ExtractionLimits& limits);

} // namespace halvexconnector::latestversion::kciextractor
