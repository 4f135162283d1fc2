#pragma once

#include <foundation/httpclient_core/HttpClient.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace foundation::httpclient {

/// How to reach one URL: directly (empty proxyUrl) or through a proxy.
struct ProxyChoice {
    /// "scheme://host:port" of the proxy; empty for a direct connection.
    std::string proxyUrl;
    bool hasCredentials = false;
    std::string username;
    std::string password;
};

/// Chooses the proxy for a URL; called once per request.
using ProxyChooser = std::function<ProxyChoice(const std::string& url)>;

struct CurlHttpClientOptions {
    std::chrono::milliseconds connectTimeout{std::chrono::seconds(30)};
    /// The stall guard: a transfer slower than stallBytesPerSecond for stallTime is aborted.
    long stallBytesPerSecond = 1024;
    std::chrono::seconds stallTime{60};
    long maxRedirects = 10;
    /// The largest body send() keeps in memory; a longer answer fails (HttpError TOO_LARGE).
    std::size_t maxResponseBytes = std::size_t{1} << 20;
    /// How often a download cut or stalled (CONNECT, STALLED, TRUNCATED) is tried again, the
    /// first time after retryDelay, each further time after twice the wait before.
    int retries = 3;
    std::chrono::milliseconds retryDelay{1000};
    /// A PEM file of certificate authorities trusted beside the system's; empty: none.
    std::string extraCaFile;
};

/// The protocols a redirect may lead to from `url`: "https" alone when the request starts on
/// https, so that a response can never downgrade it to plain http; "http,https" otherwise.
std::string allowedRedirectProtocols(const std::string& url);

/// Whether a redirect from `from` to `to` (absolute URLs) may be followed: never from https to
/// http, and plain http only between loopback hosts. Checked for every hop before it is
/// connected to.
bool redirectAllowed(const std::string& from, const std::string& to);

/// HttpClient on libcurl: one easy handle per request, so any number of threads may call it.
/// TLS peer and host verification are always on.
class CurlHttpClient final : public httpclient_core::HttpClient {
public:
    explicit CurlHttpClient(ProxyChooser chooseProxy = {}, CurlHttpClientOptions options = {});

    httpclient_core::HttpResponse send(const httpclient_core::HttpRequest& request) override;
    httpclient_core::HttpResponse
    download(const httpclient_core::HttpRequest& request, const std::filesystem::path& file,
             const httpclient_core::ProgressCallback& progress) override;

    const CurlHttpClientOptions& options() const { return options_; }

    /// Ends every transfer in progress within about a second, and every wait before a retry at
    /// once (HttpError ABORTED), and refuses new ones. The bundle calls it when it stops: a
    /// holder of the client must not keep a download running for a framework that is going away.
    void close() noexcept;

    /// What one download has written so far (an implementation detail of download()).
    struct Received;

private:
    httpclient_core::HttpResponse exchange(const httpclient_core::HttpRequest& request,
                                           Received* received,
                                           const httpclient_core::ProgressCallback& progress);
    // False when the client was closed during the wait.
    bool waitBeforeRetry(std::chrono::milliseconds delay);

    ProxyChooser chooseProxy_;
    CurlHttpClientOptions options_;
    std::atomic<bool> closed_{false};
    std::mutex closing_;
    std::condition_variable closedSignal_;
};

} // namespace foundation::httpclient
