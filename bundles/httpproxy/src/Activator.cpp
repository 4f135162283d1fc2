// Registers the proxy selector while the bundle runs; the framework withdraws it on stop.
#include "EnvironmentProxySelector.h"

#include "cppmicroservices/BundleActivator.h"
#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/BundleInitialization.h"

#include <memory>

namespace foundation::httpproxy::bundle {

class Activator final : public cppmicroservices::BundleActivator {
public:
    void Start(cppmicroservices::BundleContext context) override {
        registration =
            context.RegisterService<ProxySelector>(std::make_shared<EnvironmentProxySelector>());
    }

    void Stop(cppmicroservices::BundleContext) override {
        if (registration) {
            registration.Unregister();
            registration = {};
        }
    }

private:
    cppmicroservices::ServiceRegistration<ProxySelector> registration;
};

} // namespace foundation::httpproxy::bundle

CPPMICROSERVICES_INITIALIZE_BUNDLE
CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR(foundation::httpproxy::bundle::Activator)
