#include "HALVEXConnectorTripwireImpl.h"

#include <utility>

namespace halvexconnector::tripwireimpl {

HALVEXConnectorTripwireImpl::HALVEXConnectorTripwireImpl() = default;

HALVEXConnectorTripwireImpl::~HALVEXConnectorTripwireImpl() {
    // Run the queued removals here, first queued first, rather than relying on the order in
    // which the vector happens to destroy its elements. No operation may still be running, so
    // no lock is taken.
    for (CleanupGuard& guard : cleanupQueue) {
        CleanupGuard finishing(std::move(guard));
    }
}

void HALVEXConnectorTripwireImpl::Activate(const ComponentContextPtr& /*context*/) {
    std::lock_guard<std::mutex> lock(stateMutex);
    stopFlag = false;
}

void HALVEXConnectorTripwireImpl::Deactivate(const ComponentContextPtr& /*context*/) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        stopFlag = true;
    }
    // A service start waiting for the service host wakes, sees the flag and gives up.
    wakeUpCondition.notify_all();
    keepAlive.reset();
}

} // namespace halvexconnector::tripwireimpl
