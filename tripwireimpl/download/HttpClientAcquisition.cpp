#include "download/HttpClientAcquisition.h"

#include "ServiceLookup.h"

#include <fl/filesystem/detail/native_form.h>
#include <foundation/cppmicroservices/FrameworkAccess.h>

#include <cppmicroservices/LDAPFilter.h>

namespace halvexconnector::tripwireimpl {

namespace {

using foundation::httpclient_core::HttpClient;

// "bin/win64/foundation/<bundle>", relative: installAndStart resolves it against the
// installation root.
fl::filesystem::basic_path bundleLocation(const fl::ustring& bundleFolder) {
    constexpr bool form = true;
    fl::ustring location;
    for (const fl::ustring& component :
         {fl::ustring(u"bin"), fl::ustring(u"win64"), fl::ustring(u"foundation"), bundleFolder}) {
        fl::filesystem::detail::concatenate_pathname(location, component, form);
    }
    return fl::filesystem::basic_path(location, form);
}

} // namespace

std::shared_ptr<HttpClient> getHttpClient() {
    const cppmicroservices::LDAPFilter anyService;
    std::shared_ptr<HttpClient> client = getService<HttpClient>(anyService);
    if (client) {
        return client;
    }
    // The client bundle asks the proxy service for every request, so the proxy bundle goes first.
    foundation::cppmicroservices::installAndStart(bundleLocation(u"httpproxy"));
    foundation::cppmicroservices::installAndStart(bundleLocation(u"httpclient"));
    return getService<HttpClient>(anyService);
}

} // namespace halvexconnector::tripwireimpl
