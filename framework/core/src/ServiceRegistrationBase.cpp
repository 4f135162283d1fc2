#include "cppmicroservices/ServiceRegistrationBase.h"

#include "BundlePrivate.h"
#include "CoreBundleContext.h"
#include "PropertiesCheck.h"
#include "ServiceRegistry.h"

#include "cppmicroservices/Constants.h"

#include <stdexcept>

namespace cppmicroservices {

ServiceRegistrationBase::ServiceRegistrationBase() = default;
ServiceRegistrationBase::ServiceRegistrationBase(
    std::shared_ptr<ServiceRegistrationBasePrivate> registrationPrivate)
    : d(std::move(registrationPrivate)) {}
ServiceRegistrationBase::ServiceRegistrationBase(ServiceRegistrationBase const& reg) = default;
ServiceRegistrationBase::ServiceRegistrationBase(ServiceRegistrationBase&& reg) noexcept = default;
ServiceRegistrationBase::~ServiceRegistrationBase() = default;
ServiceRegistrationBase&
ServiceRegistrationBase::operator=(ServiceRegistrationBase const& registration) = default;
ServiceRegistrationBase&
ServiceRegistrationBase::operator=(ServiceRegistrationBase&& registration) noexcept = default;

ServiceRegistrationBase::operator bool() const {
    return d != nullptr;
}

ServiceRegistrationBase& ServiceRegistrationBase::operator=(std::nullptr_t) {
    d.reset();
    return *this;
}

ServiceReferenceBase ServiceRegistrationBase::GetReference(std::string const& interfaceId) const {
    if (!d) {
        throw std::logic_error("ServiceRegistrationBase object invalid");
    }
    if (!d->IsAvailable()) {
        throw std::logic_error("Service is unregistered");
    }
    ServiceReferenceBase ref(d);
    if (!interfaceId.empty()) {
        ref.SetInterfaceId(interfaceId);
    }
    return ref;
}

void ServiceRegistrationBase::SetProperties(ServiceProperties const& properties) {
    SetProperties(ServiceProperties(properties));
}

void ServiceRegistrationBase::SetProperties(ServiceProperties&& properties) {
    if (!d) {
        throw std::logic_error("ServiceRegistrationBase object invalid");
    }
    if (auto const* key = CaseVariantKey(properties)) {
        throw std::invalid_argument(CaseVariantMessage(*key));
    }
    std::lock_guard lock(d->mutex);
    if (!d->available) {
        throw std::logic_error("Service is unregistered");
    }
    for (auto const* key :
         {&Constants::OBJECTCLASS, &Constants::SERVICE_ID, &Constants::SERVICE_SCOPE}) {
        properties[*key] = d->properties.at(*key);
    }
    d->properties = std::move(properties);
}

void ServiceRegistrationBase::Unregister() {
    if (!d) {
        throw std::logic_error("ServiceRegistrationBase object invalid");
    }
    auto core = d->core.lock();
    if (!core) {
        throw std::logic_error("Service is unregistered");
    }
    core->services.Unregister(d);
}

bool ServiceRegistrationBase::operator<(ServiceRegistrationBase const& o) const {
    return (d ? d->id : 0) < (o.d ? o.d->id : 0);
}

bool ServiceRegistrationBase::operator==(ServiceRegistrationBase const& registration) const {
    return d == registration.d;
}

std::ostream& operator<<(std::ostream& os, ServiceRegistrationBase const& reg) {
    if (!reg) {
        return os << "ServiceRegistration[invalid]";
    }
    return os << "ServiceRegistration[" << reg.GetReference() << "]";
}

} // namespace cppmicroservices
