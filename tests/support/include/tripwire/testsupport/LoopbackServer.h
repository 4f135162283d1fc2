#pragma once

#include <tripwire/testsupport/TestAuthority.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tripwire::testsupport {

/// One request as the server saw it.
struct RecordedRequest {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;

    /// The value of a header (case-insensitive name), empty when absent.
    std::string header(const std::string& name) const;
};

/// An HTTP server on 127.0.0.1 at a port the kernel picks, running until destroyed. It serves the
/// latest-version document at LATEST_PATH and files at "/files/<name>", whose URLs take the
/// combinable fault queries listed in tests/support/README.md (status=N, cut=N, length=N,
/// stall=N, redirect=K, redirect-host=H, cut-first=N, etag=changing); files answer Range requests.
class LoopbackServer {
public:
    static constexpr const char* LATEST_PATH = "/tripwire/latest.json";
    static constexpr const char* SIGNATURE_PATH = "/tripwire/latest.json.sig";

    LoopbackServer();
    /// An https server with this certificate (see TestAuthority).
    explicit LoopbackServer(const ServerIdentity& tls);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const;
    /// "http://127.0.0.1:<port>" ("https" with TLS)
    std::string baseUrl() const;
    /// The base URL followed by `pathAndQuery` (which starts with '/').
    std::string url(const std::string& pathAndQuery) const;
    /// The URL of a file served with addFile, with an optional fault query ("cut=10").
    std::string fileUrl(const std::string& name, const std::string& query = {}) const;

    /// The body and status answered at LATEST_PATH (404 until set).
    void setLatestDocument(std::string body, int status = 200);
    /// What SIGNATURE_PATH answers: `signature`, or 404 for none. Until set: the document
    /// signed with the build's sample key, which the staged tree trusts (404 without one).
    void setLatestSignature(std::optional<std::string> signature);
    /// Serves `content` at "/files/<name>".
    void addFile(const std::string& name, std::string content);
    /// Serves a file from disk at "/files/<name>", read in chunks as it is sent.
    void addFileFromDisk(const std::string& name, const std::filesystem::path& path);

    std::vector<RecordedRequest> requests() const;
    /// The file body bytes sent so far, over all requests.
    std::uint64_t bodyBytesSent() const;

private:
    struct State;
    std::shared_ptr<State> state;
};

/// A latest-version document: {"version", "url", "sha256" (when given), "size" (when given)}.
std::string latestDocument(const std::string& version, const std::string& url,
                           const std::optional<std::string>& sha256 = std::nullopt,
                           const std::optional<std::uint64_t>& size = std::nullopt);

/// The lower-case hex SHA-256 of `data`.
std::string sha256Hex(const std::string& data);

} // namespace tripwire::testsupport
