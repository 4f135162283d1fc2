#pragma once

// A boolean flag class written the way clients of the library write theirs: constant
// initialisation, and a state record looked up once and cached in an atomic pointer.

#include <foundation/feature/Feature.h>
#include <foundation/feature/management/process/DataPtr.h>

#include <atomic>
#include <cstdlib>
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

/// Sets (or unsets) one environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) {
            saved = old;
            hadValue = true;
        }
        set(value);
    }
    ~ScopedEnv() { set(hadValue ? saved.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const char* value) {
        if (value != nullptr) {
            ::setenv(name.c_str(), value, 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

private:
    std::string name;
    std::string saved;
    bool hadValue = false;
};

} // namespace tripwire::test
