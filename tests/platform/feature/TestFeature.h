#pragma once

// A boolean flag class written the way clients of the library write theirs: constant
// initialisation, and a state record looked up once and cached in an atomic pointer.

#include <foundation/feature/Feature.h>
#include <foundation/feature/management/process/DataPtr.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>

namespace foundation::feature {

template <> class Feature<booleanFeatureKind> : public IFeature {
public:
    constexpr explicit Feature(std::string_view name) noexcept : IFeature(name) {}

    int getKind() const override { return booleanFeatureKind; }

    detail::State* getState() const override {
        if (auto* cached = cache.load()) {
            return cached;
        }
        auto* state = management::process::getDataPtr(std::string(getName().data()));
        cache.exchange(state);
        return state;
    }

    detail::State* cached() const { return cache.load(); }

private:
    mutable std::atomic<detail::State*> cache{nullptr};
};

} // namespace foundation::feature

namespace tripwire::test {

/// Sets (nullptr: unsets) QB_FEATURE_FLAGS, restoring it at the end.
class ScopedFlags {
public:
    explicit ScopedFlags(const char* value) {
        if (const char* old = std::getenv("QB_FEATURE_FLAGS")) {
            saved = old;
        }
        set(value);
    }
    ~ScopedFlags() { set(saved ? saved->c_str() : nullptr); }
    void set(const char* value) {
        value ? ::setenv("QB_FEATURE_FLAGS", value, 1) : ::unsetenv("QB_FEATURE_FLAGS");
    }

private:
    std::optional<std::string> saved;
};

} // namespace tripwire::test
