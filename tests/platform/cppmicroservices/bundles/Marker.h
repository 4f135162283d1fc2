#pragma once

#include <string>

namespace qbtest {

// Registered by each test bundle's activator, so a test can see which bundles were started.
struct IMarker {
    virtual ~IMarker() = default;
    virtual std::string bundleName() const = 0;
};

} // namespace qbtest
