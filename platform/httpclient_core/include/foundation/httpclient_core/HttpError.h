#pragma once

#include <stdexcept>
#include <string>

namespace foundation::httpclient_core {

/// A request that did not produce a response: the exchange failed below HTTP. HTTP error statuses
/// are responses, not HttpErrors.
class HttpError : public std::runtime_error {
public:
    enum class Kind {
        INVALID_REQUEST,    ///< malformed URL, unsupported scheme or method
        CONNECT,            ///< name resolution or connection failed
        TLS,                ///< handshake or certificate verification failed
        TIMEOUT,            ///< the request's own time limit ran out
        STALLED,            ///< the stall guard gave up on a transfer that stopped moving
        TRUNCATED,          ///< the connection closed before the announced body arrived
        TOO_MANY_REDIRECTS, ///< more redirects than allowed
        INSECURE_REDIRECT,  ///< a redirect to a scheme that is not allowed (https to http)
        ABORTED,            ///< the progress callback asked to stop
        FILE,               ///< the destination file could not be written
        PROXY,              ///< the proxy refused or failed the request
        TOO_LARGE,          ///< an answer kept in memory grew beyond the client's bound
        OTHER
    };

    HttpError(Kind kind, const std::string& message);

    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

/// A short name of the kind, for messages ("stalled", "tls", ...).
const char* kindName(HttpError::Kind kind) noexcept;

} // namespace foundation::httpclient_core
