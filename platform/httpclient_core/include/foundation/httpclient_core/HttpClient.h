#pragma once

#include <foundation/httpclient_core/HttpError.h>
#include <foundation/httpclient_core/HttpMessage.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace foundation::httpclient_core {

/// Called while a download runs with the bytes received so far and the total when the server
/// announced one. Returning false aborts the transfer (HttpError::Kind::ABORTED).
using ProgressCallback =
    std::function<bool(std::uint64_t received, std::optional<std::uint64_t> total)>;

/// The framework service that performs HTTP requests; its interface id is the type's name,
/// "foundation::httpclient_core::HttpClient". Implementations are safe to use from several
/// threads at once, verify TLS peers, follow redirects (never from https to http) and go through
/// the proxy that the host's proxy service chooses.
class HttpClient {
public:
    /// Performs the request and returns the final response with its body in memory. Throws
    /// HttpError when no response arrives.
    virtual HttpResponse send(const HttpRequest& request) = 0;

    /// Performs the request and streams a 2xx body into `file` (created or truncated, owner-only
    /// permissions). Other statuses leave the file empty and return their body in the response.
    /// Throws HttpError when no complete response arrives; the file may then hold part of it.
    virtual HttpResponse download(const HttpRequest& request, const std::filesystem::path& file,
                                  const ProgressCallback& progress) = 0;

    virtual ~HttpClient();
};

} // namespace foundation::httpclient_core
