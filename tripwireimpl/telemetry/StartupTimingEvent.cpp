#include "telemetry/StartupTimingEvent.h"

#include "telemetry/EventIdentification.h"
#include "telemetry/FeatureFlag.h"

#include <telx/LoggingService.h>
#include <telx/TelxData.h>
#include <telx/TelxOption.h>

namespace halvexconnector::tripwireimpl {

void logStartupTimingEvent(const std::string& startTimestamp, const std::string& endTimestamp) {
    static constinit foundation::feature::Feature<foundation::feature::booleanFeatureKind>
        StartupTimingFeature{"QSHTripwireStartupTELX"};
    if (!StartupTimingFeature) {
        return;
    }

    telx::TelxData data;
    data.setKeyValue("start_timestamp", startTimestamp);
    data.setKeyValue("end_timestamp", endTimestamp);

    const telx::DataIdentification identification = identifyEvent("HX_QSH_STARTUP_TIMING");
    static_cast<void>(telx::LoggingService::getService().logData(identification, data,
                                                                 telx::TelxOption::defaultOption));
}

} // namespace halvexconnector::tripwireimpl
