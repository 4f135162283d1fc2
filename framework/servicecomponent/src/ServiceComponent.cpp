// Out-of-line members, so that the vtables and type information of the abstract classes live in
// exactly one library and casts across bundle boundaries agree.
#include "cppmicroservices/servicecomponent/ComponentContext.hpp"
#include "cppmicroservices/servicecomponent/ComponentException.hpp"
#include "cppmicroservices/servicecomponent/detail/ComponentInstance.hpp"

namespace cppmicroservices::service::component {

ComponentContext::~ComponentContext() noexcept = default;

ComponentException::ComponentException(const std::string& message) : std::runtime_error(message) {}
ComponentException::ComponentException(const char* message) : std::runtime_error(message) {}
ComponentException::~ComponentException() noexcept = default;

namespace detail {
ComponentInstance::~ComponentInstance() noexcept = default;
} // namespace detail

} // namespace cppmicroservices::service::component
