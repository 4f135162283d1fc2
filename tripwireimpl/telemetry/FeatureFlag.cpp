#include "telemetry/FeatureFlag.h"

#include <foundation/feature/management/process/DataPtr.h>

#include <string>

namespace foundation::feature {

Feature<booleanFeatureKind>::~Feature() = default;

int Feature<booleanFeatureKind>::getKind() const {
    return booleanFeatureKind;
}

detail::State* Feature<booleanFeatureKind>::getState() const {
    if (detail::State* cached = stateCache.load(); cached != nullptr) {
        return cached;
    }
    detail::State* state = management::process::getDataPtr(std::string(getName()));
    stateCache.exchange(state);
    return state;
}

} // namespace foundation::feature
