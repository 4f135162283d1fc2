#include <foundation/httpclient_core/HttpError.h>

namespace foundation::httpclient_core {

HttpError::HttpError(Kind kind, const std::string& message)
    : std::runtime_error(message), kind_(kind) {}

const char* kindName(HttpError::Kind kind) noexcept {
    switch (kind) {
    case HttpError::Kind::INVALID_REQUEST:
        return "invalid request";
    case HttpError::Kind::CONNECT:
        return "connection failed";
    case HttpError::Kind::TLS:
        return "tls";
    case HttpError::Kind::TIMEOUT:
        return "timeout";
    case HttpError::Kind::STALLED:
        return "stalled";
    case HttpError::Kind::TRUNCATED:
        return "truncated";
    case HttpError::Kind::TOO_MANY_REDIRECTS:
        return "too many redirects";
    case HttpError::Kind::INSECURE_REDIRECT:
        return "insecure redirect";
    case HttpError::Kind::ABORTED:
        return "aborted";
    case HttpError::Kind::FILE:
        return "file";
    case HttpError::Kind::PROXY:
        return "proxy";
    case HttpError::Kind::TOO_LARGE:
        return "too large";
    case HttpError::Kind::OTHER:
        break;
    }
    return "other";
}

} // namespace foundation::httpclient_core
