#ifndef CPPMICROSERVICES_SERVICECOMPONENT_DETAIL_BINDERS_HPP
#define CPPMICROSERVICES_SERVICECOMPONENT_DETAIL_BINDERS_HPP

#include "cppmicroservices/servicecomponent/ComponentContext.hpp"

#include <memory>
#include <string>

namespace cppmicroservices::service::component::detail {

/// Binds one named service reference into an instance of T. The runtime shipped here binds no
/// references; the type exists so that generated component factories compile unchanged.
template <class T> class Binder {
public:
    explicit Binder(std::string refName) : name(std::move(refName)) {}
    virtual ~Binder() = default;

    virtual void Bind(const std::shared_ptr<void>& serviceToBind,
                      const std::shared_ptr<T>& comp) = 0;
    virtual void UnBind(const std::shared_ptr<void>& serviceToUnbind,
                        const std::shared_ptr<T>& comp) = 0;
    virtual void Bind(const std::shared_ptr<ComponentContext>& ctxt,
                      const std::shared_ptr<T>& comp) = 0;
    virtual void Unbind(const std::shared_ptr<ComponentContext>& ctxt,
                        const std::shared_ptr<T>& comp) = 0;

    std::string GetReferenceName() const { return name; }

private:
    std::string name;
};

} // namespace cppmicroservices::service::component::detail

#endif
