#pragma once

#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/Framework.h"
#include "cppmicroservices/FrameworkEvent.h"
#include "cppmicroservices/FrameworkFactory.h"

#include <dlfcn.h>

#include <exception>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fwtest {

/// Whether the library is loaded in this process (without loading it).
inline bool IsLoaded(std::string const& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
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

/// A started framework that logs into `log` and keeps the errors it reports; stopped at the end.
struct RunningFramework {
    RunningFramework() {
        framework.Start();
        framework.GetBundleContext().AddFrameworkListener([this](auto const& event) {
            if (event.GetType() == cppmicroservices::FrameworkEvent::FRAMEWORK_ERROR) {
                std::lock_guard guard(lock);
                errors.push_back(event);
            }
        });
    }
    ~RunningFramework() {
        framework.Stop();
        framework.WaitForStop(std::chrono::milliseconds::zero());
    }
    /// The errors reported since the last call.
    std::vector<cppmicroservices::FrameworkEvent> TakeErrors() {
        std::lock_guard guard(lock);
        return std::exchange(errors, {});
    }

    // Declared first so that they outlive the framework, whose stop may still report.
    std::mutex lock;
    std::vector<cppmicroservices::FrameworkEvent> errors;
    std::ostringstream log;
    cppmicroservices::Framework framework =
        cppmicroservices::FrameworkFactory().NewFramework({}, &log);
};

} // namespace fwtest
