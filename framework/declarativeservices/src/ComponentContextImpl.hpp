#ifndef DECLARATIVESERVICES_COMPONENTCONTEXTIMPL_HPP
#define DECLARATIVESERVICES_COMPONENTCONTEXTIMPL_HPP

#include "cppmicroservices/servicecomponent/ComponentContext.hpp"

namespace cppmicroservices::scrimpl {

/// The context of one instance of a component that binds no references and provides its
/// service in singleton scope.
class ComponentContextImpl final : public service::component::ComponentContext {
public:
    ComponentContextImpl(BundleContext bundleContext, ServiceReferenceBase reference,
                         std::unordered_map<std::string, Any> properties);

    std::unordered_map<std::string, Any> GetProperties() const override;
    BundleContext GetBundleContext() const override;
    Bundle GetUsingBundle() const override;
    void EnableComponent(const std::string& name) override;
    void DisableComponent(const std::string& name) override;
    ServiceReferenceBase GetServiceReference() const override;

protected:
    std::shared_ptr<void> LocateService(const std::string& name,
                                        const std::string& type) const override;
    std::vector<std::shared_ptr<void>> LocateServices(const std::string& name,
                                                      const std::string& type) const override;

private:
    BundleContext bundleContext;
    ServiceReferenceBase reference;
    std::unordered_map<std::string, Any> properties;
};

} // namespace cppmicroservices::scrimpl

#endif
