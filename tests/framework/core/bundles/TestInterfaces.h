#ifndef TESTS_FRAMEWORK_CORE_BUNDLES_TESTINTERFACES_H
#define TESTS_FRAMEWORK_CORE_BUNDLES_TESTINTERFACES_H

#include <string>

namespace fwtest {

/// Service interface shared by the test bundles and the tests.
struct IGreeter {
    virtual ~IGreeter() = default;
    virtual std::string Greet() const = 0;
};

} // namespace fwtest

#endif
