#pragma once

#include <foundation/httpclient/CurlHttpClient.h>

namespace foundation::httpclient {

/// The client options, with the stall guard taken from "QB_HTTPCLIENT_STALL_SECONDS" and
/// "QB_HTTPCLIENT_STALL_BYTES_PER_SECOND", and the in-memory bound from
/// "QB_HTTPCLIENT_MAX_RESPONSE_BYTES", when they hold positive decimal numbers (tests and
/// unusual networks); anything else keeps the defaults.
CurlHttpClientOptions optionsFromEnvironment();

} // namespace foundation::httpclient
