#pragma once

#include "ProgressDisplay.h"

#include "halvexconnector/tripwire/IInstallObserver.h"

#include <foundation/httpclient_core/TransferObserver.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/ServiceRegistration.h>

#include <memory>

namespace tripwire_host {

// Offers the module and the HTTP client an install observer and a transfer observer that feed a
// ProgressDisplay, for as long as this object lives. Destroy it before the framework stops (the
// framework may also have withdrawn the services already, after a stop signal). A bundle that
// still holds an observer afterwards keeps the display alive with it.
class ProgressObservers {
public:
    ProgressObservers(cppmicroservices::BundleContext context,
                      std::shared_ptr<ProgressDisplay> display);
    ~ProgressObservers();
    ProgressObservers(const ProgressObservers&) = delete;
    ProgressObservers& operator=(const ProgressObservers&) = delete;

private:
    std::shared_ptr<ProgressDisplay> display;
    cppmicroservices::ServiceRegistration<halvexconnector::tripwire::IInstallObserver> stages;
    cppmicroservices::ServiceRegistration<foundation::httpclient_core::TransferObserver> transfers;
};

} // namespace tripwire_host
