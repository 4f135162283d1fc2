#pragma once

#include "HALVEXConnectorTripwireImpl.h"

namespace halvexconnector::tripwireimpl {

// Drives the service object's inner steps for the unit tests: removals, starts with polling
// short enough for a test, and the keep-alive they share.
class HALVEXConnectorTripwireImplTestAccess {
public:
    static void tryToRemoveOrQueueForShutdown(HALVEXConnectorTripwireImpl& object,
                                              const fl::filesystem::basic_path& directory) {
        object.tryToRemoveOrQueueForShutdown(directory);
    }
    static void setPolling(HALVEXConnectorTripwireImpl& object, const StartPolling& polling) {
        object.polling = polling;
    }
    static bool ensureServiceHostRunning(const HALVEXConnectorTripwireImpl& object) {
        return object.ensureServiceHostRunning();
    }
    static bool startServiceHostWithTiming(const HALVEXConnectorTripwireImpl& object) {
        return object.startServiceHostWithTiming();
    }
    static serviceprocess::client_lifetime::ServiceProcessKeepAlive&
    keepAlive(HALVEXConnectorTripwireImpl& object) {
        return object.keepAlive;
    }
};

} // namespace halvexconnector::tripwireimpl
