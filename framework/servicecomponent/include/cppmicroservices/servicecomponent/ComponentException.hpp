#ifndef CPPMICROSERVICES_SERVICECOMPONENT_COMPONENTEXCEPTION_HPP
#define CPPMICROSERVICES_SERVICECOMPONENT_COMPONENTEXCEPTION_HPP

#include "cppmicroservices/servicecomponent/ServiceComponentExport.h"

#include <stdexcept>
#include <string>

namespace cppmicroservices::service::component {

/// Raised by the component runtime when it cannot do what a component asked of it.
class US_ServiceComponent_EXPORT ComponentException : public std::runtime_error {
public:
    explicit ComponentException(const std::string& message);
    explicit ComponentException(const char* message);
    ComponentException(const ComponentException&) = default;
    ComponentException& operator=(const ComponentException&) = default;
    ~ComponentException() noexcept override;
};

} // namespace cppmicroservices::service::component

#endif
