#ifndef DECLARATIVESERVICES_ENTRYPOINTS_HPP
#define DECLARATIVESERVICES_ENTRYPOINTS_HPP

#include "cppmicroservices/servicecomponent/detail/ComponentInstance.hpp"

#include <string>

namespace cppmicroservices::scrimpl {

using ComponentInstance = service::component::detail::ComponentInstance;
using NewInstanceFn = ComponentInstance* (*)();
using DeleteInstanceFn = void (*)(ComponentInstance*);

/// The factory and disposer a bundle exports for one implementation class.
struct EntryPoints {
    NewInstanceFn create = nullptr;
    DeleteInstanceFn dispose = nullptr;
};

/// Looks both up in a loaded library; throws std::runtime_error naming the missing symbol.
EntryPoints ResolveEntryPoints(void* library, const std::string& implementationClass,
                               const std::string& libraryPath);

} // namespace cppmicroservices::scrimpl

#endif
