#include "cppmicroservices/IllegalStateException.h"
#include "cppmicroservices/ServiceException.h"

#include <ostream>

namespace cppmicroservices {

ServiceException::ServiceException(std::string const& msg, Type const& t)
    : std::runtime_error(msg), type(t) {}
ServiceException::ServiceException(ServiceException const& o) = default;
ServiceException& ServiceException::operator=(ServiceException const& o) = default;
ServiceException::~ServiceException() = default;
ServiceException::Type ServiceException::GetType() const {
    return type;
}

IllegalStateException::IllegalStateException(std::string what) : std::runtime_error(what) {}
IllegalStateException::~IllegalStateException() = default;

} // namespace cppmicroservices

std::ostream& operator<<(std::ostream& os, cppmicroservices::ServiceException const& exc) {
    return os << "ServiceException: " << exc.what();
}
