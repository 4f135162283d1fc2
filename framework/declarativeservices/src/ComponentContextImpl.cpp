#include "ComponentContextImpl.hpp"

#include "cppmicroservices/servicecomponent/ComponentException.hpp"

namespace cppmicroservices::scrimpl {

using service::component::ComponentException;

ComponentContextImpl::ComponentContextImpl(BundleContext bundleContext,
                                           ServiceReferenceBase reference,
                                           std::unordered_map<std::string, Any> properties)
    : bundleContext(std::move(bundleContext)), reference(std::move(reference)),
      properties(std::move(properties)) {}

std::unordered_map<std::string, Any> ComponentContextImpl::GetProperties() const {
    return properties;
}

BundleContext ComponentContextImpl::GetBundleContext() const {
    return bundleContext;
}

// Singleton scope: every user shares the instance, so no one bundle is "the" user.
Bundle ComponentContextImpl::GetUsingBundle() const {
    return {};
}

void ComponentContextImpl::EnableComponent(const std::string& name) {
    throw ComponentException("enabling components at run time is not supported (" + name + ")");
}

void ComponentContextImpl::DisableComponent(const std::string& name) {
    throw ComponentException("disabling components at run time is not supported (" + name + ")");
}

ServiceReferenceBase ComponentContextImpl::GetServiceReference() const {
    return reference;
}

// No references are declared, so there is nothing by any name to locate.
std::shared_ptr<void> ComponentContextImpl::LocateService(const std::string&,
                                                          const std::string&) const {
    return nullptr;
}

std::vector<std::shared_ptr<void>> ComponentContextImpl::LocateServices(const std::string&,
                                                                        const std::string&) const {
    return {};
}

} // namespace cppmicroservices::scrimpl
