#include "StateRegistry.h"

#include <foundation/feature/management/process/DataPtr.h>

#include <stdexcept>

namespace foundation::feature::detail {

StateRegistry& StateRegistry::instance() {
    // Deliberately leaked: flag objects may be destroyed (and evaluated) after this library's
    // statics would be.
    static StateRegistry* const registry = new StateRegistry;
    return *registry;
}

State* StateRegistry::find(const std::string& name) {
    std::lock_guard lock(mutex);
    auto& slot = records[name];
    if (!slot) {
        slot.reset(new State(name));
    }
    return slot.get();
}

} // namespace foundation::feature::detail

namespace foundation::feature::management::process {

detail::State* getDataPtr(const std::string& name) {
    if (name.empty()) {
        throw std::invalid_argument("foundation::feature: a feature flag needs a non-empty name");
    }
    return detail::StateRegistry::instance().find(name);
}

} // namespace foundation::feature::management::process
