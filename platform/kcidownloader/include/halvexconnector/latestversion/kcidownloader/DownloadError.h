#pragma once

#include <stdexcept>
#include <string>

namespace halvexconnector::latestversion::kcidownloader {

/// Why a download failed. The message names the URL (without fragment) and the details.
class DownloadError : public std::runtime_error {
public:
    enum class Reason {
        INVALID_URL,     ///< not an absolute URL, or a malformed digest fragment
        INSECURE_URL,    ///< plain http to a host that is not a loopback address
        NO_CLIENT,       ///< no HTTP client service
        HTTP_STATUS,     ///< the server answered with a status other than 200
        TRANSFER,        ///< connection or protocol failure
        STALLED,         ///< the transfer stopped moving
        TLS,             ///< TLS handshake or certificate failure
        TRUNCATED,       ///< the connection closed before the whole archive arrived
        SIZE_MISMATCH,   ///< the file's length differs from Content-Length
        DIGEST_MISMATCH, ///< the file's SHA-256 differs from the URL's "sha256" fragment
        FILE_SYSTEM,     ///< the directory or the file could not be created or written
        NO_SPACE         ///< the archive would not fit into the directory's free space
    };

    DownloadError(Reason reason, const std::string& message);

    Reason reason() const noexcept { return reason_; }

private:
    Reason reason_;
};

} // namespace halvexconnector::latestversion::kcidownloader
