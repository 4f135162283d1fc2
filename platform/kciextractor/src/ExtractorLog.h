#pragma once

#include <string>

namespace halvexconnector::latestversion::kciextractor::detail {

/// Writes one record to the extractor's diagnostic logger (severity kNoInstallerSeverity).
void logExtractorRecord(const std::string& message);

} // namespace halvexconnector::latestversion::kciextractor::detail
