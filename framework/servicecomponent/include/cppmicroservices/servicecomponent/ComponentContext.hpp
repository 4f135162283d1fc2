#ifndef CPPMICROSERVICES_SERVICECOMPONENT_COMPONENTCONTEXT_HPP
#define CPPMICROSERVICES_SERVICECOMPONENT_COMPONENTCONTEXT_HPP

#include "cppmicroservices/Any.h"
#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/ServiceReference.h"
#include "cppmicroservices/servicecomponent/ServiceComponentExport.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace cppmicroservices::service::component {

/// What a component instance sees of the runtime: its properties, its bundle, the service it
/// provides and the services it references by name. One per component instance.
class US_ServiceComponent_EXPORT ComponentContext {
public:
    virtual ~ComponentContext() noexcept;

    virtual std::unordered_map<std::string, cppmicroservices::Any> GetProperties() const = 0;
    virtual cppmicroservices::BundleContext GetBundleContext() const = 0;
    /// The bundle the instance serves for bundle or prototype scope; an invalid bundle otherwise.
    virtual cppmicroservices::Bundle GetUsingBundle() const = 0;
    virtual void EnableComponent(const std::string& name) = 0;
    virtual void DisableComponent(const std::string& name) = 0;
    /// The reference of the service the instance provides; invalid when it provides none.
    virtual cppmicroservices::ServiceReferenceBase GetServiceReference() const = 0;

    template <class T> std::shared_ptr<T> LocateService(const std::string& refName) const {
        return std::static_pointer_cast<T>(LocateService(refName, us_service_interface_iid<T>()));
    }

    template <class T>
    std::vector<std::shared_ptr<T>> LocateServices(const std::string& refName) const {
        std::vector<std::shared_ptr<T>> typed;
        for (auto& obj : LocateServices(refName, us_service_interface_iid<T>())) {
            typed.push_back(std::static_pointer_cast<T>(obj));
        }
        return typed;
    }

protected:
    virtual std::shared_ptr<void> LocateService(const std::string& name,
                                                const std::string& type) const = 0;
    virtual std::vector<std::shared_ptr<void>> LocateServices(const std::string& name,
                                                              const std::string& type) const = 0;
};

} // namespace cppmicroservices::service::component

#endif
