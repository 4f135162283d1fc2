#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace foundation::httpclient_core {

/// Header fields in the order they were given or received. Names compare without regard to case.
using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

/// The value of the last field named `name` (case-insensitive), if any.
std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name);

struct HttpRequest {
    std::string method = "GET";
    /// Absolute "http" or "https" URL; a fragment is never sent.
    std::string url;
    HttpHeaders headers;
    std::string body;
    /// Limit for the whole exchange; zero means none (the stall guard still applies).
    std::chrono::milliseconds timeout{0};
};

struct HttpResponse {
    /// The status of the final response after redirects.
    int status = 0;
    /// The header fields of the final response.
    HttpHeaders headers;
    /// The body; for a download it holds the body only when the status is not 2xx.
    std::string body;
    /// The URL that answered, after redirects.
    std::string effectiveUrl;
    /// For a 2xx download: the lower-case hex SHA-256 of the whole file, computed as the bytes
    /// arrived; empty when the client computes none (the caller then reads the file back).
    std::string sha256;

    bool isSuccess() const { return status >= 200 && status < 300; }
};

/// The text form of HttpResponse::sha256: the digest's bytes as lower-case hex.
std::string lowerHex(const unsigned char* bytes, std::size_t size);

} // namespace foundation::httpclient_core
