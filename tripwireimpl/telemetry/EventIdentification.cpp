#include "telemetry/EventIdentification.h"

namespace halvexconnector::tripwireimpl {

telx::DataIdentification identifyEvent(const std::string& eventKey) {
    telx::DataIdentification identification;
    identification.setProduct("HX");
    identification.setAppComponent("HX_QSH");
    identification.setEventKey(eventKey);
    return identification;
}

} // namespace halvexconnector::tripwireimpl
