#ifndef TESTS_FRAMEWORK_FRAMEWORKTESTUTIL_H
#define TESTS_FRAMEWORK_FRAMEWORKTESTUTIL_H

#include <dlfcn.h>

#include <exception>
#include <string>

namespace fwtest {

/// Whether the library is loaded in this process (without loading it).
inline bool IsLoaded(std::string const& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle) {
        dlclose(handle);
    }
    return handle != nullptr;
}

/// The messages of an exception and of the exceptions nested in it, joined by " | ".
inline std::string Describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (std::exception const& e) {
        std::string text = e.what();
        try {
            std::rethrow_if_nested(e);
        } catch (...) {
            text += " | " + Describe(std::current_exception());
        }
        return text;
    } catch (...) {
        return "unknown exception";
    }
}

} // namespace fwtest

#endif
