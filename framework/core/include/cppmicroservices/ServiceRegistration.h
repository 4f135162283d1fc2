#ifndef CPPMICROSERVICES_SERVICEREGISTRATION_H
#define CPPMICROSERVICES_SERVICEREGISTRATION_H

#include "cppmicroservices/ServiceRegistrationBase.h"

namespace cppmicroservices {

template <class I1, class... Interfaces>
class ServiceRegistration : public ServiceRegistrationBase {
public:
    ServiceRegistration() : ServiceRegistrationBase() {}

    template <class Interface> ServiceReference<Interface> GetReference() const {
        static_assert(detail::Contains<Interface, I1, Interfaces...>::value,
                      "Requested interface type not available");
        return this->ServiceRegistrationBase::GetReference(us_service_interface_iid<Interface>());
    }

    ServiceReference<I1> GetReference() const {
        return this->ServiceRegistrationBase::GetReference(us_service_interface_iid<I1>());
    }

    using ServiceRegistrationBase::operator=;

private:
    friend class BundleContext;
    ServiceRegistration(ServiceRegistrationBase const& base) : ServiceRegistrationBase(base) {}
};

template <> class ServiceRegistration<void> : public ServiceRegistrationBase {
public:
    ServiceRegistration() : ServiceRegistrationBase() {}
    ServiceRegistration(ServiceRegistrationBase const& base) : ServiceRegistrationBase(base) {}
    using ServiceRegistrationBase::operator=;
};

using ServiceRegistrationU = ServiceRegistration<void>;

} // namespace cppmicroservices

#endif
