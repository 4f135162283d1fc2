#ifndef CPPMICROSERVICES_SERVICECOMPONENT_DETAIL_COMPONENTINSTANCE_HPP
#define CPPMICROSERVICES_SERVICECOMPONENT_DETAIL_COMPONENTINSTANCE_HPP

#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/ServiceReference.h"
#include "cppmicroservices/servicecomponent/ComponentContext.hpp"
#include "cppmicroservices/servicecomponent/ServiceComponentExport.h"

#include <memory>
#include <string>

namespace cppmicroservices::service::component::detail {

/// The runtime's handle on one instance of a component's implementation class. Bundles create
/// it through their exported NewInstance_<class> function; the runtime drives it in this order:
/// CreateInstance, BindReferences, Activate, GetInterfaceMap..., Deactivate, UnbindReferences,
/// then DeleteInstance_<class>.
class US_ServiceComponent_EXPORT ComponentInstance {
public:
    virtual ~ComponentInstance() noexcept;

    /// Constructs the implementation object; the context is kept for the later calls.
    virtual void CreateInstance(const std::shared_ptr<ComponentContext>& ctxt) = 0;
    virtual void BindReferences(const std::shared_ptr<ComponentContext>& ctxt) = 0;
    virtual void UnbindReferences() = 0;

    virtual void Activate() = 0;
    virtual void Deactivate() = 0;
    /// Passes changed configuration properties to the object, when it can take them in place.
    virtual void Modified() = 0;

    virtual void InvokeUnbindMethod(const std::string& refName,
                                    std::shared_ptr<void> svcToUnbind) = 0;
    virtual void InvokeBindMethod(const std::string& refName, std::shared_ptr<void> svcToBind) = 0;

    /// The object published under each of the component's interface ids.
    virtual cppmicroservices::InterfaceMapPtr GetInterfaceMap() = 0;
    virtual bool DoesModifiedMethodExist() = 0;
};

} // namespace cppmicroservices::service::component::detail

#endif
