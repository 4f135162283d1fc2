#include "cppmicroservices/ServiceReferenceBase.h"

#include "BundlePrivate.h"
#include "ServiceReferenceBasePrivate.h"
#include "ServiceRegistrationBasePrivate.h"

#include "cppmicroservices/Bundle.h"
#include "cppmicroservices/Constants.h"

#include <algorithm>

namespace cppmicroservices {

ServiceReferenceBase::ServiceReferenceBase() : d(std::make_shared<ServiceReferenceBasePrivate>()) {}

ServiceReferenceBase::ServiceReferenceBase(std::shared_ptr<ServiceRegistrationBasePrivate> reg)
    : d(std::make_shared<ServiceReferenceBasePrivate>()) {
    if (reg && !reg->objectClasses.empty()) {
        d->interfaceId = reg->objectClasses.front();
    }
    d->registration = std::move(reg);
}

ServiceReferenceBase::ServiceReferenceBase(ServiceReferenceBase const& ref) = default;
ServiceReferenceBase::~ServiceReferenceBase() = default;
ServiceReferenceBase&
ServiceReferenceBase::operator=(ServiceReferenceBase const& reference) = default;

ServiceReferenceBase::operator bool() const {
    return static_cast<bool>(GetBundle());
}

ServiceReferenceBase& ServiceReferenceBase::operator=(std::nullptr_t) {
    d = std::make_shared<ServiceReferenceBasePrivate>();
    return *this;
}

std::shared_ptr<ServiceRegistrationBasePrivate> ServiceReferenceBase::Registration() const {
    return d->registration;
}

void ServiceReferenceBase::SetInterfaceId(std::string const& interfaceId) {
    auto copy = std::make_shared<ServiceReferenceBasePrivate>(*d);
    copy->interfaceId = interfaceId;
    d = std::move(copy);
}

Any ServiceReferenceBase::GetProperty(std::string const& key) const {
    if (!d->registration) {
        return Any();
    }
    std::lock_guard lock(d->registration->mutex);
    auto const& props = d->registration->properties;
    if (auto it = props.find(key); it != props.end()) {
        return it->second;
    }
    for (auto const& [k, v] : props) {
        if (!detail::AnyMapKeyLess{true}(k, key) && !detail::AnyMapKeyLess{true}(key, k)) {
            return v;
        }
    }
    return Any();
}

void ServiceReferenceBase::GetPropertyKeys(std::vector<std::string>& keys) const {
    keys = GetPropertyKeys();
}

std::vector<std::string> ServiceReferenceBase::GetPropertyKeys() const {
    std::vector<std::string> keys;
    if (d->registration) {
        for (auto const& [k, v] : d->registration->Properties()) {
            keys.push_back(k);
        }
    }
    return keys;
}

Bundle ServiceReferenceBase::GetBundle() const {
    auto const& reg = d->registration;
    if (!reg || !reg->IsAvailable()) {
        return Bundle();
    }
    auto bundle = reg->bundle.lock();
    return bundle ? MakeBundle(bundle) : Bundle();
}

std::string ServiceReferenceBase::GetInterfaceId() const {
    return d->interfaceId;
}

bool ServiceReferenceBase::IsConvertibleTo(std::string const& interfaceid) const {
    auto const& reg = d->registration;
    return reg &&
           std::binary_search(reg->objectClasses.begin(), reg->objectClasses.end(), interfaceid);
}

bool ServiceReferenceBase::operator<(ServiceReferenceBase const& reference) const {
    // The framework's order: a reference is less when it comes later, so the best
    // ranked service is the greatest; an invalid reference is less than any other.
    auto const& mine = d->registration;
    auto const& theirs = reference.d->registration;
    if (!mine || !theirs) {
        return !mine && theirs;
    }
    return mine != theirs && mine->GetRank() < theirs->GetRank();
}

bool ServiceReferenceBase::operator==(ServiceReferenceBase const& reference) const {
    return d->registration == reference.d->registration;
}

std::size_t ServiceReferenceBase::Hash() const {
    return std::hash<ServiceRegistrationBasePrivate*>()(d->registration.get());
}

std::ostream& operator<<(std::ostream& os, ServiceReferenceBase const& serviceRef) {
    if (!serviceRef) {
        return os << "Invalid service reference";
    }
    os << "Reference for service object registered from "
       << serviceRef.GetBundle().GetSymbolicName() << " (" << serviceRef.GetInterfaceId() << ", id "
       << serviceRef.GetProperty(Constants::SERVICE_ID) << ")";
    return os;
}

} // namespace cppmicroservices
