#pragma once

#include "CleanupGuard.h"

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

    // Declaration order is construction order; destruction runs the queue first.
    halvexconnector::serviceprocess::client_lifetime::ServiceProcessKeepAlive keepAlive;
    bool stopFlag = false;
    std::condition_variable wakeUpCondition;
    std::mutex stateMutex;
    std::mutex cleanupMutex;
    std::vector<CleanupGuard> cleanupQueue;
};

} // namespace halvexconnector::tripwireimpl
