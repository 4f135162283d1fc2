// A bundle whose activator registers a greeter. Built as fwtest_failing
// (FWTEST_FAILING), its start throws after registering: the framework must withdraw the service.
#include "../../ds/bundle/IGreeter.hpp"

#include "cppmicroservices/BundleActivator.h"
#include "cppmicroservices/BundleInitialization.h"
#include "cppmicroservices/GetBundleContext.h"

#include <memory>
#include <stdexcept>

CPPMICROSERVICES_INITIALIZE_BUNDLE

namespace {

struct Greeter final : dstest::IGreeter {
    std::string Greet(const std::string&) override { return "hello from fwtest_activator"; }
};

struct Activator final : cppmicroservices::BundleActivator {
    void Start(cppmicroservices::BundleContext context) override {
        // The setter must have run before the activator: both contexts are the same.
        bool const sameContext = cppmicroservices::GetBundleContext() == context;
        registration = context.RegisterService<dstest::IGreeter>(
            std::make_shared<Greeter>(), {{"context_matches", sameContext}});
#ifdef FWTEST_FAILING
        throw std::runtime_error("fwtest_failing refuses to start");
#endif
    }
    // The framework withdraws the service even if the activator does not.
    void Stop(cppmicroservices::BundleContext) override {}
    cppmicroservices::ServiceRegistration<dstest::IGreeter> registration;
};

} // namespace

CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR(Activator)
