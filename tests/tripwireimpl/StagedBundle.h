#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace tripwire_test {

// The staged install tree of the build (set by CTest for every test).
inline std::string stageDir() {
    const char* dir = std::getenv("TRIPWIRE_STAGE_DIR");
    if (dir == nullptr || *dir == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return dir;
}

inline std::string stagedBundlePath() {
    return stageDir() +
           "/bin/win64/halvexconnector/tripwireimpl/halvexconnector/tripwireimpl/qbtripwireimpl.so";
}

inline std::string stagedDeclarativeServicesPath() {
    return stageDir() + "/lib/libDeclarativeServices.so";
}

} // namespace tripwire_test
