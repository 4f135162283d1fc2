#ifndef CPPMICROSERVICES_SERVICECOMPONENT_DETAIL_COMPONENTINSTANCEIMPL_HPP
#define CPPMICROSERVICES_SERVICECOMPONENT_DETAIL_COMPONENTINSTANCEIMPL_HPP

#include "cppmicroservices/AnyMap.h"
#include "cppmicroservices/ServiceInterface.h"
#include "cppmicroservices/servicecomponent/ComponentContext.hpp"
#include "cppmicroservices/servicecomponent/detail/Binders.hpp"
#include "cppmicroservices/servicecomponent/detail/ComponentInstance.hpp"

#include <array>
#include <concepts>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace cppmicroservices::service::component::detail {

// The lifecycle hooks an implementation class may offer. Only these exact forms count: an
// Activate taking other parameters or returning a value is not a hook and is never called.
template <class T>
concept HasActivateHook = requires(T& t, const std::shared_ptr<ComponentContext>& c) {
    { t.Activate(c) } -> std::same_as<void>;
};
template <class T>
concept HasDeactivateHook = requires(T& t, const std::shared_ptr<ComponentContext>& c) {
    { t.Deactivate(c) } -> std::same_as<void>;
};
template <class T>
concept HasModifiedHook = requires(T& t, const std::shared_ptr<ComponentContext>& c,
                                   const std::shared_ptr<cppmicroservices::AnyMap>& p) {
    { t.Modified(c, p) } -> std::same_as<void>;
};
template <class T>
concept HasConfigConstructor = std::is_constructible_v < T,
        const std::shared_ptr<cppmicroservices::AnyMap>
& > ;

/// Ties an implementation class T to the runtime: creates T (with std::make_shared, so the
/// object and its count share one allocation), forwards the lifecycle hooks T has, and
/// publishes T under the id of each interface in InterfaceTuple.
template <class T, class InterfaceTuple = std::tuple<>, class... CtorInjectedRefs>
class ComponentInstanceImpl final : public ComponentInstance {
    static_assert(sizeof...(CtorInjectedRefs) == 0,
                  "constructor-injected references are not supported by this runtime");
    static_assert(std::is_default_constructible_v<T> || HasConfigConstructor<T>,
                  "the implementation class needs a default constructor or one taking "
                  "const std::shared_ptr<cppmicroservices::AnyMap>&");

public:
    explicit ComponentInstanceImpl(
        const std::array<std::string, sizeof...(CtorInjectedRefs)> staticRefNames = {},
        const std::vector<std::shared_ptr<Binder<T>>>& binders = {})
        : refNames(staticRefNames), refBinders(binders) {
        for (std::size_t i = 0; i < refBinders.size(); ++i) {
            binderIndex[refBinders[i]->GetReferenceName()] = i;
        }
    }

    ~ComponentInstanceImpl() override = default;

    void CreateInstance(const std::shared_ptr<ComponentContext>& ctxt) override {
        context = ctxt;
        if constexpr (HasConfigConstructor<T>) {
            instance = std::make_shared<T>(
                std::make_shared<cppmicroservices::AnyMap>(context->GetProperties()));
        } else {
            instance = std::make_shared<T>();
        }
    }

    void BindReferences(const std::shared_ptr<ComponentContext>& ctxt) override {
        for (auto& binder : refBinders) {
            binder->Bind(ctxt, instance);
        }
    }

    void UnbindReferences() override {
        for (auto& binder : refBinders) {
            binder->Unbind(context, instance);
        }
    }

    void Activate() override {
        if constexpr (HasActivateHook<T>) {
            if (instance) {
                instance->Activate(context);
            }
        }
    }

    void Deactivate() override {
        if constexpr (HasDeactivateHook<T>) {
            if (instance) {
                instance->Deactivate(context);
            }
        }
    }

    void Modified() override {
        if constexpr (HasModifiedHook<T>) {
            if (instance) {
                instance->Modified(
                    context, std::make_shared<cppmicroservices::AnyMap>(context->GetProperties()));
            }
        }
    }

    bool DoesModifiedMethodExist() override { return HasModifiedHook<T>; }

    void InvokeBindMethod(const std::string& refName, std::shared_ptr<void> svcToBind) override {
        refBinders.at(binderIndex.at(refName))->Bind(svcToBind, instance);
    }

    void InvokeUnbindMethod(const std::string& refName,
                            std::shared_ptr<void> svcToUnbind) override {
        refBinders.at(binderIndex.at(refName))->UnBind(svcToUnbind, instance);
    }

    /// A fresh map with one entry per interface; null before the object exists or when the
    /// component provides no service.
    cppmicroservices::InterfaceMapPtr GetInterfaceMap() override {
        if (!instance) {
            return nullptr;
        }
        return makeInterfaceMap(std::make_index_sequence<std::tuple_size_v<InterfaceTuple>>{});
    }

    virtual std::shared_ptr<T> GetInstance() const { return instance; }

private:
    template <std::size_t... Is>
    cppmicroservices::InterfaceMapPtr makeInterfaceMap(std::index_sequence<Is...>) {
        if constexpr (sizeof...(Is) == 0) {
            return nullptr;
        } else {
            return cppmicroservices::MakeInterfaceMap<std::tuple_element_t<Is, InterfaceTuple>...>(
                instance);
        }
    }

    std::array<std::string, sizeof...(CtorInjectedRefs)> refNames;
    std::vector<std::shared_ptr<Binder<T>>> refBinders;
    std::map<std::string, std::size_t> binderIndex;
    std::shared_ptr<ComponentContext> context;
    std::shared_ptr<T> instance;
};

} // namespace cppmicroservices::service::component::detail

#endif
