#include "cppmicroservices/ServiceObjects.h"

#include "BundleContextPrivate.h"

namespace cppmicroservices {

class ServiceObjectsBasePrivate {
public:
    BundleContext context;
    ServiceReferenceBase reference;
};

ServiceObjectsBase::ServiceObjectsBase(std::shared_ptr<BundleContextPrivate> const& context,
                                       ServiceReferenceBase const& reference)
    : d(std::make_unique<ServiceObjectsBasePrivate>(
          ServiceObjectsBasePrivate{MakeBundleContext(context), reference})) {
    if (!reference) {
        throw std::invalid_argument("The service reference is invalid");
    }
}

ServiceObjectsBase::ServiceObjectsBase(ServiceObjectsBase&& other) noexcept = default;
ServiceObjectsBase& ServiceObjectsBase::operator=(ServiceObjectsBase&& other) noexcept = default;
ServiceObjectsBase::~ServiceObjectsBase() = default;

std::shared_ptr<void> ServiceObjectsBase::GetService() const {
    if (!d->reference) {
        return nullptr;
    }
    return d->context.GetService(d->reference);
}

InterfaceMapConstPtr ServiceObjectsBase::GetServiceInterfaceMap() const {
    if (!d->reference) {
        return nullptr;
    }
    return d->context.GetService(ServiceReferenceU(d->reference));
}

ServiceReferenceBase ServiceObjectsBase::GetReference() const {
    return d->reference;
}

ServiceObjects<void>::ServiceObjects(std::shared_ptr<BundleContextPrivate> const& context,
                                     ServiceReferenceU const& reference)
    : ServiceObjectsBase(context, reference) {}
ServiceObjects<void>::ServiceObjects(ServiceObjects&& other) noexcept = default;
ServiceObjects<void>& ServiceObjects<void>::operator=(ServiceObjects&& other) noexcept = default;

InterfaceMapConstPtr ServiceObjects<void>::GetService() const {
    return GetServiceInterfaceMap();
}
ServiceReferenceU ServiceObjects<void>::GetServiceReference() const {
    return GetReference();
}

} // namespace cppmicroservices
