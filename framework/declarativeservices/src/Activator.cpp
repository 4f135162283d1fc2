// The runtime bundle: starts watching bundles for components when it starts, disposes of them
// all when it stops.
#include "Runtime.hpp"

#include "cppmicroservices/BundleActivator.h"
#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/BundleInitialization.h"

#include <memory>

namespace cppmicroservices::scrimpl {

class Activator final : public BundleActivator {
public:
    void Start(BundleContext context) override {
        runtime = std::make_unique<Runtime>(context);
        runtime->Start();
    }

    void Stop(BundleContext) override {
        if (runtime) {
            runtime->Stop();
            runtime.reset();
        }
    }

private:
    std::unique_ptr<Runtime> runtime;
};

} // namespace cppmicroservices::scrimpl

CPPMICROSERVICES_INITIALIZE_BUNDLE
CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR(cppmicroservices::scrimpl::Activator)
