// Components of the test bundle "ds_test_bundle", with their entry points written out by hand
// the way generated ones look. Each reports what happens to it through the probe.
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
class Counted : public IGreeter {
public:
    explicit Counted(std::string name) : name(std::move(name)) {
        dsprobe::Count(this->name + ".ctor");
    }
    ~Counted() override { dsprobe::Count(name + ".dtor"); }
    std::string Greet(const std::string& who) override { return "hello " + who; }

protected:
    std::string name;
};

class Greeter final : public Counted {
public:
    Greeter() : Counted("Greeter") {
        // The bundle's own context must already be set when its first object is built.
        auto context = cppmicroservices::GetBundleContext();
        dsprobe::Count("Greeter.ownBundle=" +
                       (context ? context.GetBundle().GetSymbolicName() : std::string()));
    }
    void Activate(const std::shared_ptr<ComponentContext>& ctx) {
        dsprobe::Count("Greeter.activate");
        dsprobe::Count("Greeter.contextBundle=" +
                       ctx->GetBundleContext().GetBundle().GetSymbolicName());
        dsprobe::Count("Greeter.componentName=" + cppmicroservices::any_cast<std::string>(
                                                      ctx->GetProperties().at("component.name")));
    }
    void Deactivate(const std::shared_ptr<ComponentContext>&) {
        dsprobe::Count("Greeter.deactivate");
    }
};

class NullFactory final : public Counted {
public:
    NullFactory() : Counted("NullFactory") {}
};

class ThrowingCtor final : public Counted {
public:
    ThrowingCtor() : Counted("ThrowingCtor") { throw std::runtime_error("constructor refused"); }
};

class ThrowingActivate final : public Counted {
public:
    ThrowingActivate() : Counted("ThrowingActivate") {}
    void Activate(const std::shared_ptr<ComponentContext>&) {
        dsprobe::Count("ThrowingActivate.activate");
        throw std::runtime_error("activation refused");
    }
    void Deactivate(const std::shared_ptr<ComponentContext>&) {
        dsprobe::Count("ThrowingActivate.deactivate");
    }
};

class ThrowingDeactivate final : public Counted {
public:
    ThrowingDeactivate() : Counted("ThrowingDeactivate") {}
    void Deactivate(const std::shared_ptr<ComponentContext>&) {
        dsprobe::Count("ThrowingDeactivate.deactivate");
        throw std::runtime_error("deactivation refused");
    }
};

// Declared in the manifest with one more interface than it publishes.
class Incomplete final : public Counted {
public:
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
extern "C" US_ABI_EXPORT void DeleteInstance_dstest_NullFactory(ComponentInstance* instance) {
    delete instance;
}

// "dstest::Missing" is declared in the manifest but has no entry points here.
