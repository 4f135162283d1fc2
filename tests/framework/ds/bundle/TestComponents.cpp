// Components of the test bundles "ds_test_bundle" and "ds_test_eager" (whose manifest names only
// Greeter, immediate), with their entry points written out by hand the way generated ones look.
// Each reports what happens to it through the probe.
#include "../probe/DsProbe.hpp"
#include "IGreeter.hpp"

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleInitialization.h"
#include "cppmicroservices/GetBundleContext.h"
#include "cppmicroservices/servicecomponent/ComponentContext.hpp"
#include "cppmicroservices/servicecomponent/detail/ComponentInstanceImpl.hpp"

#include <new>
#include <stdexcept>

using cppmicroservices::service::component::ComponentContext;
using cppmicroservices::service::component::detail::ComponentInstance;
using cppmicroservices::service::component::detail::ComponentInstanceImpl;

namespace dstest {

// Counts its life under its class name, as "<name>.ctor", ".dtor", ".activate", ".deactivate".
struct Counted : IGreeter {
    explicit Counted(std::string name) : name(std::move(name)) {
        dsprobe::Count(this->name + ".ctor");
    }
    ~Counted() override { dsprobe::Count(name + ".dtor"); }
    std::string Greet(const std::string& who) override { return "hello " + who; }
    void Activate(const std::shared_ptr<ComponentContext>&) { dsprobe::Count(name + ".activate"); }
    void Deactivate(const std::shared_ptr<ComponentContext>&) {
        dsprobe::Count(name + ".deactivate");
    }
    std::string name;
};

struct Greeter final : Counted {
    Greeter() : Counted("Greeter") {
        // The bundle's own context must already be set when its first object is built.
        auto context = cppmicroservices::GetBundleContext();
        dsprobe::Count("Seen.ownBundle=" +
                       (context ? context.GetBundle().GetSymbolicName() : std::string()));
    }
    void Activate(const std::shared_ptr<ComponentContext>& ctx) {
        Counted::Activate(ctx);
        dsprobe::Count("Seen.contextBundle=" +
                       ctx->GetBundleContext().GetBundle().GetSymbolicName());
        dsprobe::Count("Seen.componentName=" + cppmicroservices::any_cast<std::string>(
                                                   ctx->GetProperties().at("component.name")));
    }
};

struct NullFactory final : Counted {
    NullFactory() : Counted("NullFactory") {}
};
struct ThrowingCtor final : Counted {
    ThrowingCtor() : Counted("ThrowingCtor") { throw std::runtime_error("constructor refused"); }
};
struct ThrowingActivate final : Counted {
    ThrowingActivate() : Counted("ThrowingActivate") {}
    void Activate(const std::shared_ptr<ComponentContext>& ctx) {
        Counted::Activate(ctx);
        throw std::runtime_error("activation refused");
    }
};
struct ThrowingDeactivate final : Counted {
    ThrowingDeactivate() : Counted("ThrowingDeactivate") {}
    void Deactivate(const std::shared_ptr<ComponentContext>& ctx) {
        Counted::Deactivate(ctx);
        throw std::runtime_error("deactivation refused");
    }
};
// Declared in the manifest with one more interface than it publishes.
struct Incomplete final : Counted {
    Incomplete() : Counted("Incomplete") {}
};

} // namespace dstest

CPPMICROSERVICES_INITIALIZE_BUNDLE

#define DSTEST_ENTRY_POINTS(cls)                                                                   \
    extern "C" US_ABI_EXPORT ComponentInstance* NewInstance_dstest_##cls() {                       \
        dsprobe::Count(#cls ".new");                                                               \
        return new (std::nothrow)                                                                  \
            ComponentInstanceImpl<dstest::cls, std::tuple<dstest::IGreeter>>();                    \
    }                                                                                              \
    extern "C" US_ABI_EXPORT void DeleteInstance_dstest_##cls(ComponentInstance* instance) {       \
        if (instance) {                                                                            \
            dsprobe::Count(#cls ".delete");                                                        \
        }                                                                                          \
        delete instance;                                                                           \
    }

DSTEST_ENTRY_POINTS(Greeter)
DSTEST_ENTRY_POINTS(ThrowingCtor)
DSTEST_ENTRY_POINTS(ThrowingActivate)
DSTEST_ENTRY_POINTS(ThrowingDeactivate)
DSTEST_ENTRY_POINTS(Incomplete)

// A factory that fails as an allocation failure would.
extern "C" US_ABI_EXPORT ComponentInstance* NewInstance_dstest_NullFactory() {
    dsprobe::Count("NullFactory.new");
    return nullptr;
}
extern "C" US_ABI_EXPORT void DeleteInstance_dstest_NullFactory(ComponentInstance*) {}

// "dstest::Missing" is declared in the manifest but has no entry points here.
