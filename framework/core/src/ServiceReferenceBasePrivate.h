#ifndef CPPMICROSERVICES_SRC_SERVICEREFERENCEBASEPRIVATE_H
#define CPPMICROSERVICES_SRC_SERVICEREFERENCEBASEPRIVATE_H

#include <memory>
#include <string>

namespace cppmicroservices {

class ServiceRegistrationBasePrivate;

/// A reference: a registration seen as one interface.
class ServiceReferenceBasePrivate {
public:
    std::shared_ptr<ServiceRegistrationBasePrivate> registration;
    std::string interfaceId;
};

} // namespace cppmicroservices

#endif
