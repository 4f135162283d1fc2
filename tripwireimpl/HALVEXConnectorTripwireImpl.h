#pragma once

#include "CleanupGuard.h"
#include "StartPolling.h"

#include "halvexconnector/tripwire/ITripwire.h"

#include <halvexconnector/serviceprocess/client_lifetime/ServiceProcessKeepAlive.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace cppmicroservices::service::component {
class ComponentContext;
}

namespace halvexconnector::tripwireimpl {

class HALVEXConnectorTripwireImplTestAccess;

// The module's one service object. The Declarative Services runtime creates, activates,
// deactivates and releases it; host threads call the four operations, possibly concurrently.
class HALVEXConnectorTripwireImpl : public tripwire::ITripwire {
public:
    using ComponentContextPtr =
        std::shared_ptr<cppmicroservices::service::component::ComponentContext>;

    HALVEXConnectorTripwireImpl();
    ~HALVEXConnectorTripwireImpl() override;

    HALVEXConnectorTripwireImpl(const HALVEXConnectorTripwireImpl&) = delete;
    HALVEXConnectorTripwireImpl& operator=(const HALVEXConnectorTripwireImpl&) = delete;

    bool areHALVEXServicesRunning(tripwire::HALVEXServicesMode mode) const override;
    tripwire::HALVEXServicesInstallStatus
    checkHALVEXServicesInstallation(tripwire::HALVEXServicesMode mode,
                                    const std::uint32_t (&requiredVersion)[4]) const override;
    tripwire::InstallConnectorResult
    startHALVEXServices(tripwire::HALVEXServicesMode mode) const override;
    tripwire::InstallConnectorResult installAndStartHALVEXServices(
        tripwire::HALVEXServicesMode mode, const std::string& triggeredBy,
        const boost::optional<fl::filesystem::basic_path>& ignoredPath,
        const boost::optional<fl::filesystem::basic_path>& installationRoot) override;

    void Activate(const ComponentContextPtr& context);
    void Deactivate(const ComponentContextPtr& context);

private:
    friend class HALVEXConnectorTripwireImplTestAccess;

    // Removes a working directory now; when that fails, logs it and queues the directory for a
    // removal with all permissions granted when this object is destroyed. Never throws for a
    // failed removal.
    void tryToRemoveOrQueueForShutdown(const fl::filesystem::basic_path& directory);

    // Brings the service host up (ensureServiceHostRunning) and sends the startup-timing event
    // with the times taken around it. True when a running agent was seen.
    bool startServiceHostWithTiming() const;

    // Revives the keep-alive when it has failed for good, then looks for a running agent under
    // the standard lock root until one shows up (true), the polling limit passes or the
    // component is deactivated (false).
    bool ensureServiceHostRunning() const;

    // Replaces a keep-alive that has failed for good by a newly started one. Serialised so that
    // concurrent starts never launch two service processes for one failure.
    void reviveKeepAliveIfFailed() const;

    // Sleeps until the next poll is due. False when the component is (or becomes) deactivated.
    bool waitForNextPoll(std::chrono::milliseconds elapsed) const;

    // Declaration order is construction order; destruction runs the queue first.
    // The operations are const for their callers; the start state below changes underneath.
    mutable halvexconnector::serviceprocess::client_lifetime::ServiceProcessKeepAlive keepAlive;
    mutable std::mutex keepAliveMutex;
    bool stopFlag = false;
    mutable std::condition_variable wakeUpCondition;
    mutable std::mutex stateMutex;
    StartPolling polling;
    std::mutex cleanupMutex;
    std::vector<CleanupGuard> cleanupQueue;
};

} // namespace halvexconnector::tripwireimpl
