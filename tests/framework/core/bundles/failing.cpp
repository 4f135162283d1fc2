// A bundle whose activator registers a service and then fails to start.
#include "TestInterfaces.h"

#include "cppmicroservices/BundleActivator.h"
#include "cppmicroservices/BundleInitialization.h"

#include <memory>
#include <stdexcept>

CPPMICROSERVICES_INITIALIZE_BUNDLE

namespace {

struct Greeter final : fwtest::IGreeter {
    std::string Greet() const override { return "never seen"; }
};

class Activator final : public cppmicroservices::BundleActivator {
public:
    void Start(cppmicroservices::BundleContext context) override {
        auto registration = context.RegisterService<fwtest::IGreeter>(std::make_shared<Greeter>());
        (void)registration;
        throw std::runtime_error("fwtest_failing refuses to start");
    }
    void Stop(cppmicroservices::BundleContext) override {}
};

} // namespace

CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR(Activator)
