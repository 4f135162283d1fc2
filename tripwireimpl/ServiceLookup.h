#pragma once

#include <fl/filesystem/basic_path.h>

#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/LDAPFilter.h>
#include <cppmicroservices/ServiceException.h>
#include <cppmicroservices/ServiceInterface.h>
#include <cppmicroservices/ServiceObjects.h>
#include <cppmicroservices/ServiceReference.h>

#include <boost/optional.hpp>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace halvexconnector::tripwireimpl {

// The id under which services of interface T are registered: its demangled name, computed on
// first use and kept for the life of the process (a function-local static, so concurrent first
// use is safe).
template <class T> const std::string& serviceInterfaceId() {
    return us_service_interface_iid<T>();
}

// The first service of type T in the running framework whose properties match `filter`, or an
// empty pointer when there is no framework or no such service. Asks the framework's own context,
// not the module's, so services of every bundle are seen. Nothing is cached: every call asks
// again. Exceptions of the framework pass to the caller.
template <class T> std::shared_ptr<T> getService(const cppmicroservices::LDAPFilter& filter) {
    std::shared_ptr<T> result;
    std::shared_ptr<cppmicroservices::Framework> framework =
        foundation::cppmicroservices::getFramework();
    if (!framework) {
        return result;
    }
    cppmicroservices::BundleContext context = framework->GetBundleContext();
    const std::string filterText = filter.ToString();

    const std::string& id = serviceInterfaceId<T>();
    if (id.empty()) {
        throw cppmicroservices::ServiceException(
            "The service interface class has no CPPMICROSERVICES_DECLARE_SERVICE_INTERFACE macro");
    }
    std::vector<cppmicroservices::ServiceReference<T>> references;
    for (const cppmicroservices::ServiceReferenceU& reference :
         context.GetServiceReferences(id, filterText)) {
        // Retypes the reference as T, or makes it invalid when it cannot be seen as T.
        references.emplace_back(reference);
    }
    if (references.empty()) {
        return result;
    }
    // The framework's order decides; a first reference that yields nothing is not followed by
    // a try of the next one.
    if (!context) {
        throw std::runtime_error("The bundle context is no longer valid");
    }
    const cppmicroservices::ServiceReference<T>& first = references.front();
    try {
        cppmicroservices::ServiceObjects<T> objects = context.GetServiceObjects(first);
        result = objects.GetService();
    } catch (const std::invalid_argument&) {
        // The service was withdrawn after the lookup listed it: that is a lookup that yields
        // nothing, not a failure of the caller's operation.
        if (first) {
            throw;
        }
    }
    return result;
}

// The folder that replaces the user storage root, from the first UserStorageRootOverride
// service; empty when there is no service or it returns an empty path.
boost::optional<fl::filesystem::basic_path> getFirstFolderOverride();

// The folder that replaces the lock root, alike.
boost::optional<fl::filesystem::basic_path> getSecondFolderOverride();

// Both folders from one lookup of the service, for callers that need both: the same answers as
// the two lookups above, at half the cost.
struct FolderOverrides {
    boost::optional<fl::filesystem::basic_path> first;
    boost::optional<fl::filesystem::basic_path> second;
};
FolderOverrides getFolderOverrides();

} // namespace halvexconnector::tripwireimpl
