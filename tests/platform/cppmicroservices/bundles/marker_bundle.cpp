// A test bundle whose activator registers one IMarker naming the bundle.
#include "Marker.h"

#include <cppmicroservices/BundleActivator.h>
#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/BundleInitialization.h>
#include <memory>

CPPMICROSERVICES_INITIALIZE_BUNDLE

namespace {

#define QB_STRINGIFY_NAME(name) #name
#define QB_STRINGIFY(name) QB_STRINGIFY_NAME(name)

struct Marker final : qbtest::IMarker {
    std::string bundleName() const override { return QB_STRINGIFY(US_BUNDLE_NAME); }
};

class Activator final : public cppmicroservices::BundleActivator {
public:
    void Start(cppmicroservices::BundleContext context) override {
        context.RegisterService<qbtest::IMarker>(std::make_shared<Marker>());
    }
    void Stop(cppmicroservices::BundleContext) override {}
};

} // namespace

CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR(Activator)
