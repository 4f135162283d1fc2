#ifndef CPPMICROSERVICES_SERVICEREFERENCE_H
#define CPPMICROSERVICES_SERVICEREFERENCE_H

#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/ServiceReferenceBase.h"

namespace cppmicroservices {

/// A reference typed as interface S. Made from a reference of another interface,
/// it takes S's id when the service offers S and becomes invalid otherwise.
template <class S> class ServiceReference : public ServiceReferenceBase {
public:
    using ServiceType = S;

    ServiceReference() : ServiceReferenceBase() {}
    ServiceReference(ServiceReference const&) = default;
    ServiceReference& operator=(ServiceReference const&) = default;

    ServiceReference(ServiceReferenceBase const& base) : ServiceReferenceBase(base) { Retype(); }

    using ServiceReferenceBase::operator=;

    ServiceReference& operator=(ServiceReferenceBase const& reference) {
        ServiceReferenceBase::operator=(reference);
        Retype();
        return *this;
    }

    bool operator==(ServiceReference const& reference) const {
        return ServiceReferenceBase::operator==(reference);
    }

    using ServiceReferenceBase::Hash;

private:
    void Retype() {
        std::string const interfaceId(us_service_interface_iid<S>());
        if (GetInterfaceId() != interfaceId) {
            if (this->IsConvertibleTo(interfaceId)) {
                this->SetInterfaceId(interfaceId);
            } else {
                this->operator=(nullptr);
            }
        }
    }
};

/// A reference that keeps the interface id it was made with.
template <> class ServiceReference<void> : public ServiceReferenceBase {
public:
    using ServiceType = void;

    ServiceReference() : ServiceReferenceBase() {}
    ServiceReference(ServiceReference const&) = default;
    ServiceReference& operator=(ServiceReference const&) = default;
    ServiceReference(ServiceReferenceBase const& base) : ServiceReferenceBase(base) {}

    using ServiceReferenceBase::operator=;

    bool operator==(ServiceReference const& reference) const {
        return ServiceReferenceBase::operator==(reference);
    }

    using ServiceReferenceBase::Hash;
};

using ServiceReferenceU = ServiceReference<void>;

} // namespace cppmicroservices

namespace std {
template <class S> struct hash<cppmicroservices::ServiceReference<S>> {
    std::size_t operator()(cppmicroservices::ServiceReference<S> const& arg) const {
        return arg.Hash();
    }
};
} // namespace std

#endif
