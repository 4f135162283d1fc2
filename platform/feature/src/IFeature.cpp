#include <foundation/feature/Feature.h>
#include <foundation/feature/IFeature.h>
#include <foundation/feature/detail/State.h>

#include "FlagSettings.h"

#include <stdexcept>
#include <string>

namespace foundation::feature {
namespace {

std::string describe(std::string_view name) {
    return "feature flag \"" + std::string(name) + "\"";
}

} // namespace

IFeature::~IFeature() = default;

IFeature::operator bool() const {
    if (getKind() != booleanFeatureKind) {
        throw std::logic_error("foundation::feature: " + describe(name) + " is of unknown kind " +
                               std::to_string(getKind()));
    }
    const detail::State* state = getState();
    if (state == nullptr) {
        throw std::logic_error("foundation::feature: " + describe(name) + " has no state record");
    }
    if (state->getName() != name) {
        throw std::logic_error("foundation::feature: " + describe(name) +
                               " handed back the state record of " + describe(state->getName()));
    }
    return detail::isFlagOnNow(state->getName());
}

} // namespace foundation::feature
