#include "telemetry/InstallResultEvent.h"

#include "telemetry/EventIdentification.h"
#include "telemetry/FeatureFlag.h"

#include <telx/LoggingService.h>
#include <telx/TelxData.h>
#include <telx/TelxOption.h>
#include <telx/util/DateTime.h>

#include <string>
#include <utility>

namespace halvexconnector::tripwireimpl {
namespace {

// The detail keys, in the order they are sent.
using RecordText = std::string InstallTelemetryRecord::*;
constexpr std::pair<const char*, RecordText> detailKeys[] = {
    {"extractionErrorMessage", &InstallTelemetryRecord::extractionErrorMessage},
    {"extractionEndTimestamp", &InstallTelemetryRecord::extractionEndTimestamp},
    {"downloadErrorMessage", &InstallTelemetryRecord::downloadErrorMessage},
    {"downloadEndTimestamp", &InstallTelemetryRecord::downloadEndTimestamp},
    {"extractDownloadErrorMessage", &InstallTelemetryRecord::extractDownloadErrorMessage},
    {"extractDownloadEndTimestamp", &InstallTelemetryRecord::extractDownloadEndTimestamp},
    {"installerReturnCode", &InstallTelemetryRecord::installerReturnCode},
    {"installerEndTimestamp", &InstallTelemetryRecord::installerEndTimestamp},
    {"installerRerunReturnCode", &InstallTelemetryRecord::installerRerunReturnCode},
    {"installerRerunEndTimestamp", &InstallTelemetryRecord::installerRerunEndTimestamp},
};

} // namespace

void logInstallResultEvent(const InstallTelemetryRecord& record, const std::string& result) {
    const std::string endTimestamp = telx::util::getDateTimeWithMilliSec();

    telx::TelxData data;
    data.setKeyValue("startTimestamp", record.startTimestamp);
    data.setKeyValue("endTimestamp", endTimestamp);
    data.setKeyValue("installResult", result);
    data.setKeyValue("qshVersion", record.qshVersion);
    data.setKeyValue("installSource", record.installSource);
    const std::string_view mode = tripwire::enumeratorName(record.mode);
    data.setKeyValue("mode", mode.empty() ? "UNKNOWN" : std::string(mode));

    static constinit foundation::feature::Feature<foundation::feature::booleanFeatureKind>
        InstallErrorFeature{"QSHInstallErrorTELX"};
    if (InstallErrorFeature) {
        for (const auto& [key, field] : detailKeys) {
            data.setKeyValue(key, record.*field);
        }
    }

    const telx::TelxOption option;
    const telx::DataIdentification identification = identifyEvent("HX_QSH_INSTALL");
    static_cast<void>(telx::LoggingService::getService().logData(identification, data, option));
}

} // namespace halvexconnector::tripwireimpl
