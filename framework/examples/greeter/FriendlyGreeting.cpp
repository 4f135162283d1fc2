// The example bundle "example_greeter": one delayed singleton component, created by the
// component runtime on the first request for example::IGreeting.
#include "IGreeting.hpp"

#include "cppmicroservices/BundleInitialization.h"
#include "cppmicroservices/servicecomponent/ComponentContext.hpp"
#include "cppmicroservices/servicecomponent/detail/ComponentInstanceImpl.hpp"

#include <iostream>
#include <new>

using cppmicroservices::service::component::ComponentContext;
using cppmicroservices::service::component::detail::ComponentInstance;
using cppmicroservices::service::component::detail::ComponentInstanceImpl;

namespace example {

class FriendlyGreeting final : public IGreeting {
public:
    FriendlyGreeting() { std::cout << "  [example_greeter] FriendlyGreeting constructed\n"; }
    ~FriendlyGreeting() override {
        std::cout << "  [example_greeter] FriendlyGreeting destroyed\n";
    }

    void Activate(const std::shared_ptr<ComponentContext>& context) {
        std::cout << "  [example_greeter] activated in bundle "
                  << context->GetBundleContext().GetBundle().GetSymbolicName() << '\n';
    }
    void Deactivate(const std::shared_ptr<ComponentContext>&) {
        std::cout << "  [example_greeter] deactivated\n";
    }

    std::string Greet(const std::string& name) override { return "Hello, " + name + "!"; }
};

} // namespace example

CPPMICROSERVICES_INITIALIZE_BUNDLE

extern "C" US_ABI_EXPORT ComponentInstance* NewInstance_example_FriendlyGreeting() {
    return new (std::nothrow)
        ComponentInstanceImpl<example::FriendlyGreeting, std::tuple<example::IGreeting>>();
}

extern "C" US_ABI_EXPORT void DeleteInstance_example_FriendlyGreeting(ComponentInstance* instance) {
    delete instance;
}
