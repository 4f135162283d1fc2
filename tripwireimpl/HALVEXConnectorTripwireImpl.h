#pragma once

#include "DeferredRemovals.h"
#include "ServiceHostStarter.h"

#include "halvexconnector/tripwire/ITripwire.h"

#include <memory>

namespace cppmicroservices::service::component {
class ComponentContext;
}

namespace halvexconnector::tripwireimpl {

// The module's one service object. The Declarative Services runtime creates, activates,
// deactivates and releases it; host threads call the four operations, possibly concurrently.
// The work is its collaborators': the service-host starter, the deferred removals, the mode's
// locations (ModeLocations) and the install attempt (InstallAttempt).
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
    // Removes a working directory now, or queues it for the removal when this object is
    // destroyed (DeferredRemovals::removeNowOrQueue).
    void tryToRemoveOrQueueForShutdown(const fl::filesystem::basic_path& directory);

    // Declaration order is construction order; destruction runs the deferred removals first.
    // The operations are const for their callers; the start state changes underneath.
    mutable ServiceHostStarter starter;
    DeferredRemovals deferredRemovals;
};

} // namespace halvexconnector::tripwireimpl
