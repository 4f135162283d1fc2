#include "ExtractorLog.h"

#include "halvexconnector/latestversion/kciextractor/KCIExtractor.h"

#include <foundation/log/write_record.h>

namespace halvexconnector::latestversion::kciextractor::detail {

void logExtractorRecord(const std::string& message) {
    static foundation::log::diagnostic_logger logger(kExtractorLoggerName);
    foundation::log::write_record(logger, kNoInstallerSeverity, message, "\n");
}

} // namespace halvexconnector::latestversion::kciextractor::detail
