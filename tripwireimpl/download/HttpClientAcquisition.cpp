#include "download/HttpClientAcquisition.h"

#include "ServiceLookup.h"

#include <fl/filesystem/detail/native_form.h>
#include <fl/i18n/conversion.h>
#include <foundation/cppmicroservices/FrameworkAccess.h>
#include <tripwire/InstallLayout.h>

#include <cppmicroservices/LDAPFilter.h>

namespace halvexconnector::tripwireimpl {

namespace {

using foundation::httpclient_core::HttpClient;

// Relative: installAndStart resolves it against the installation root.
fl::filesystem::basic_path bundleLocation(const char* bundleDirectory) {
    constexpr bool form = true;
    return fl::filesystem::basic_path(
        fl::filesystem::detail::make_native_form(fl::i18n::utf8_to_ustring(bundleDirectory), form),
        form);
}

} // namespace

std::shared_ptr<HttpClient> getHttpClient() {
    const cppmicroservices::LDAPFilter anyService;
    std::shared_ptr<HttpClient> client = getService<HttpClient>(anyService);
    if (client) {
        return client;
    }
    // The client bundle asks the proxy service for every request, so the proxy bundle goes first.
    foundation::cppmicroservices::installAndStart(
        bundleLocation(::tripwire::layout::httpProxyBundleDirectory));
    foundation::cppmicroservices::installAndStart(
        bundleLocation(::tripwire::layout::httpClientBundleDirectory));
    return getService<HttpClient>(anyService);
}

} // namespace halvexconnector::tripwireimpl
