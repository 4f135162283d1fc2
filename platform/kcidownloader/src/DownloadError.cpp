#include <halvexconnector/latestversion/kcidownloader/DownloadError.h>

namespace halvexconnector::latestversion::kcidownloader {

DownloadError::DownloadError(Reason reason, const std::string& message)
    : std::runtime_error(message), reason_(reason) {}

} // namespace halvexconnector::latestversion::kcidownloader
