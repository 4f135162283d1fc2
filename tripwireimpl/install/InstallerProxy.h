#pragma once

#include <foundation/core/process/context.h>

namespace halvexconnector::tripwireimpl {

// Names of the entries that hand the host's proxy to the installer.
extern const char* const proxyHostVariable;
extern const char* const proxyPortVariable;
extern const char* const proxyUsernameVariable;
extern const char* const proxyPasswordVariable;

// Asks the framework's ProxySelector which proxy serves the maker's web domain and, when one
// applies, writes its host and port (and its user name and password when it has credentials)
// into the context's environment, replacing entries of the same name in any case. No selector,
// an empty list, a direct connection first or an empty host leave the environment as it is.
// Failures of the lookup, the URL manager or the selector propagate.
void configureInstallerProxy(foundation::core::process::context& context);

} // namespace halvexconnector::tripwireimpl
