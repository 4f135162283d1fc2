// A bundle whose activator registers a greeter and counts its stops.
#include "TestInterfaces.h"

#include "cppmicroservices/BundleActivator.h"
#include "cppmicroservices/BundleInitialization.h"
#include "cppmicroservices/GetBundleContext.h"

#include <atomic>
#include <memory>

CPPMICROSERVICES_INITIALIZE_BUNDLE

namespace {

std::atomic<int> stops{0};
std::atomic<int> destroyed{0};

struct Greeter final : fwtest::IGreeter {
    std::string Greet() const override { return "hello from fwtest_activator"; }
};

class Activator final : public cppmicroservices::BundleActivator {
public:
    ~Activator() override { ++destroyed; }

    void Start(cppmicroservices::BundleContext context) override {
        // The setter must have run before the activator: both contexts are the same.
        bool const sameContext = cppmicroservices::GetBundleContext() == context;
        registration = context.RegisterService<fwtest::IGreeter>(
            std::make_shared<Greeter>(), {{"context_matches", sameContext}});
    }

    void Stop(cppmicroservices::BundleContext) override {
        ++stops;
        // The framework withdraws the service even if the activator does not.
    }

private:
    cppmicroservices::ServiceRegistration<fwtest::IGreeter> registration;
};

} // namespace

CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR(Activator)

extern "C" US_ABI_EXPORT int fwtest_activator_stops() {
    return stops.load();
}
extern "C" US_ABI_EXPORT int fwtest_activator_destroyed() {
    return destroyed.load();
}
