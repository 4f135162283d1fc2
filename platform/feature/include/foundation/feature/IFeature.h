#pragma once

#include <string_view>

namespace foundation::feature {

namespace detail {
class State;
}

/// A named feature flag. Clients derive a flag class from this base (see Feature.h), declare
/// flag objects with constant initialisation, and ask them whether they are on.
///
/// The base holds only the name as a view: the characters must outlive the flag object (a
/// string literal in practice) and be NUL-terminated.
class IFeature {
public:
    constexpr explicit IFeature(std::string_view name) noexcept : name(name) {}
    IFeature(const IFeature&) = delete;
    IFeature& operator=(const IFeature&) = delete;

    virtual ~IFeature();

    /// The kind of flag the derived class implements; the library knows booleanFeatureKind only.
    virtual int getKind() const = 0;

    /// The library's state record of this flag. Implementations obtain it once from
    /// management::process::getDataPtr(name) and may keep it for the life of the process.
    virtual detail::State* getState() const = 0;

    /// Whether the flag is on now. The flag settings are read afresh at every call, so a change
    /// takes effect at the next evaluation. Throws std::logic_error when the derived class is of an
    /// unknown kind or hands back no (or another flag's) state record.
    explicit operator bool() const;

    std::string_view getName() const noexcept { return name; }

private:
    std::string_view name;
};

} // namespace foundation::feature
