// The bundle "ds_test_eager": one immediate component, created as soon as the bundle starts.
#include "../probe/DsProbe.hpp"
#include "IGreeter.hpp"

#include "cppmicroservices/BundleInitialization.h"
#include "cppmicroservices/servicecomponent/detail/ComponentInstanceImpl.hpp"

#include <new>

using cppmicroservices::service::component::ComponentContext;
using cppmicroservices::service::component::detail::ComponentInstance;
using cppmicroservices::service::component::detail::ComponentInstanceImpl;

namespace dstest {

class Eager final : public IGreeter {
public:
    Eager() { dsprobe::Count("Eager.ctor"); }
    ~Eager() override { dsprobe::Count("Eager.dtor"); }
    std::string Greet(const std::string& who) override { return "hi " + who; }
    void Activate(const std::shared_ptr<ComponentContext>&) { dsprobe::Count("Eager.activate"); }
    void Deactivate(const std::shared_ptr<ComponentContext>&) {
        dsprobe::Count("Eager.deactivate");
    }
};

} // namespace dstest

CPPMICROSERVICES_INITIALIZE_BUNDLE

extern "C" US_ABI_EXPORT ComponentInstance* NewInstance_dstest_Eager() {
    return new (std::nothrow) ComponentInstanceImpl<dstest::Eager, std::tuple<dstest::IGreeter>>();
}

extern "C" US_ABI_EXPORT void DeleteInstance_dstest_Eager(ComponentInstance* instance) {
    if (instance) {
        dsprobe::Count("Eager.delete");
    }
    delete instance;
}
