#pragma once

#include <foundation/httpclient_core/HttpClient.h>

#include <memory>

namespace halvexconnector::tripwireimpl {

// The framework's HTTP client service. When none is registered, installs and starts the proxy
// bundle and then the client bundle of the host's installation and asks exactly once more, so
// the answer may still be empty. Nothing is cached: every call looks the service up anew.
// Failures of the lookups and of the installations reach the caller.
std::shared_ptr<foundation::httpclient_core::HttpClient> getHttpClient();

} // namespace halvexconnector::tripwireimpl
