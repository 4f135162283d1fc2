#ifndef CPPMICROSERVICES_SERVICEINTERFACE_H
#define CPPMICROSERVICES_SERVICEINTERFACE_H

#include "cppmicroservices/GlobalConfig.h"
#include "cppmicroservices/ServiceException.h"

#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <unordered_map>
#include <utility>

template <class T> std::string const& us_service_interface_iid();

namespace cppmicroservices {

class ServiceFactory;

/// Interface id -> the service object seen as that interface. A service factory
/// sits under the key "org.cppmicroservices.factory".
using InterfaceMap = std::unordered_map<std::string, std::shared_ptr<void>>;
using InterfaceMapPtr = std::shared_ptr<InterfaceMap>;
using InterfaceMapConstPtr = std::shared_ptr<InterfaceMap const>;

namespace detail {

/// The fully qualified name of a type, without "class "/"struct " prefixes.
US_Framework_EXPORT std::string GetDemangledName(std::type_info const& typeInfo);

template <class T, class... List> struct Contains : std::false_type {};
template <class T, class Head, class... Rest>
struct Contains<T, Head, Rest...>
    : std::conditional_t<std::is_same_v<T, Head>, std::true_type, Contains<T, Rest...>> {};

} // namespace detail
} // namespace cppmicroservices

/// The id under which services of interface T are registered: its demangled
/// name, computed once per type (a function-local static, safe on first use
/// from several threads).
template <class T> std::string const& us_service_interface_iid() {
    static std::string const name = cppmicroservices::detail::GetDemangledName(typeid(T));
    return name;
}

template <> inline std::string const& us_service_interface_iid<void>() {
    static std::string const name;
    return name;
}

#define CPPMICROSERVICES_DECLARE_SERVICE_INTERFACE(_service_interface_type, _service_interface_id) \
    template <> inline std::string const& us_service_interface_iid<_service_interface_type>() {    \
        static std::string const name(_service_interface_id);                                      \
        return name;                                                                               \
    }

namespace cppmicroservices {

/// Builds the interface map of one implementation object for the listed interfaces,
/// or of a service factory.
template <class... Interfaces> class MakeInterfaceMap {
public:
    template <class Impl>
    MakeInterfaceMap(std::shared_ptr<Impl> const& impl)
        : m_interfaces(std::static_pointer_cast<Interfaces>(impl)...) {}

    MakeInterfaceMap(std::shared_ptr<ServiceFactory> factory) : m_factory(std::move(factory)) {
        if (!m_factory) {
            throw ServiceException("The service factory argument must not be nullptr.");
        }
    }

    operator InterfaceMapPtr() { return getInterfaceMap(); }
    operator InterfaceMapConstPtr() { return InterfaceMapConstPtr(getInterfaceMap()); }

private:
    InterfaceMapPtr getInterfaceMap() {
        auto map = std::make_shared<InterfaceMap>();
        if (m_factory) {
            map->emplace(std::string("org.cppmicroservices.factory"),
                         std::static_pointer_cast<void>(m_factory));
            // Reserve the ids: the factory supplies the objects later.
            (map->emplace(us_service_interface_iid<Interfaces>(), nullptr), ...);
        } else {
            std::apply(
                [&map](auto const&... ptrs) {
                    (map->emplace(us_service_interface_iid<
                                      typename std::decay_t<decltype(ptrs)>::element_type>(),
                                  std::static_pointer_cast<void>(ptrs)),
                     ...);
                },
                m_interfaces);
        }
        return map;
    }

    std::shared_ptr<ServiceFactory> m_factory;
    std::tuple<std::shared_ptr<Interfaces>...> m_interfaces;
};

template <class Interface>
std::shared_ptr<Interface> ExtractInterface(InterfaceMapConstPtr const& map) {
    if (!map) {
        return nullptr;
    }
    auto iter = map->find(us_service_interface_iid<Interface>());
    return iter != map->end() ? std::static_pointer_cast<Interface>(iter->second) : nullptr;
}

inline std::shared_ptr<void> ExtractInterface(InterfaceMapConstPtr const& map,
                                              std::string const& interfaceId) {
    if (!map) {
        return nullptr;
    }
    if (interfaceId.empty() && !map->empty()) {
        return map->begin()->second;
    }
    auto iter = map->find(interfaceId);
    return iter != map->end() ? iter->second : nullptr;
}

template <class T> std::shared_ptr<ServiceFactory> ToFactory(std::shared_ptr<T> const& factory) {
    return std::static_pointer_cast<ServiceFactory>(factory);
}

} // namespace cppmicroservices

#endif
