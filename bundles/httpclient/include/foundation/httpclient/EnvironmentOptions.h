#pragma once

#include <foundation/httpclient/CurlHttpClient.h>

namespace foundation::httpclient {

/// The client options, with the stall guard taken from "QB_HTTPCLIENT_STALL_SECONDS" and
/// "QB_HTTPCLIENT_STALL_BYTES_PER_SECOND", and the in-memory bound from
/// "QB_HTTPCLIENT_MAX_RESPONSE_BYTES", when they hold positive decimal numbers (tests and
/// unusual networks); the retries from "QB_HTTPCLIENT_RETRIES" (0 to 10) and
/// "QB_HTTPCLIENT_RETRY_DELAY_MS" (the first wait); an extra trusted CA file from
/// "QB_HTTPCLIENT_EXTRA_CA_FILE" (tests and private deployments). Anything else keeps the
/// defaults.
CurlHttpClientOptions optionsFromEnvironment();

} // namespace foundation::httpclient
