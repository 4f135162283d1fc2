#pragma once

#include <foundation/feature/Feature.h>
#include <foundation/feature/IFeature.h>
#include <foundation/feature/detail/State.h>

#include <atomic>
#include <string_view>

namespace foundation::feature {

// The module's on/off flag class. Flag objects are constant-initialised (declare them
// `static constinit`), so they exist before any code of the module runs; the feature library
// asks them for their state record, which is looked up by name once and then kept.
template <> class Feature<booleanFeatureKind> : public IFeature {
public:
    // `name` must be NUL-terminated and outlive the object: a string literal.
    constexpr explicit Feature(std::string_view name) noexcept : IFeature(name) {}
    ~Feature() override;

    int getKind() const override;

    // The cached record, or the library's record for the name, which is then cached. Two
    // threads that both find the cache empty both look it up and store the same pointer.
    detail::State* getState() const override;

private:
    mutable std::atomic<detail::State*> stateCache{nullptr};
};

} // namespace foundation::feature
