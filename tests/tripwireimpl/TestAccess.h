#pragma once

#include "HALVEXConnectorTripwireImpl.h"

#include <cstddef>
#include <mutex>

namespace halvexconnector::tripwireimpl {

// Reaches the private parts of the service object for the unit tests.
class HALVEXConnectorTripwireImplTestAccess {
public:
    static void tryToRemoveOrQueueForShutdown(HALVEXConnectorTripwireImpl& object,
                                              const fl::filesystem::basic_path& directory) {
        object.tryToRemoveOrQueueForShutdown(directory);
    }
    static std::size_t queuedRemovals(HALVEXConnectorTripwireImpl& object) {
        std::lock_guard<std::mutex> lock(object.cleanupMutex);
        return object.cleanupQueue.size();
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
    static bool stopFlag(HALVEXConnectorTripwireImpl& object) {
        std::lock_guard<std::mutex> lock(object.stateMutex);
        return object.stopFlag;
    }
};

} // namespace halvexconnector::tripwireimpl
