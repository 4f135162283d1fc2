#pragma once

#include <foundation/httpclient_core/HttpClient.h>
#include <foundation/httpclient_core/TransferObserver.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace foundation::httpclient {

using TransferObservers = std::vector<std::shared_ptr<httpclient_core::TransferObserver>>;

/// Yields the observers to tell about one download; asked once as the download starts.
using ObserverLookup = std::function<TransferObservers()>;

/// An HttpClient that tells transfer observers about every download of the client it wraps.
///
/// The caller's progress callback gets every call unchanged, and its answer alone decides whether
/// the transfer goes on. Observers get at most one progress call per `progressInterval` (the
/// first one at once), then the last values seen when the download ends, if they were held back.
/// What an observer throws is ignored: watching never changes a download. `send` is not observed.
class ObservedHttpClient final : public httpclient_core::HttpClient {
public:
    static constexpr std::chrono::milliseconds DEFAULT_PROGRESS_INTERVAL{100};

    ObservedHttpClient(std::shared_ptr<httpclient_core::HttpClient> inner,
                       ObserverLookup lookupObservers,
                       std::chrono::milliseconds progressInterval = DEFAULT_PROGRESS_INTERVAL);

    httpclient_core::HttpResponse send(const httpclient_core::HttpRequest& request) override;
    httpclient_core::HttpResponse
    download(const httpclient_core::HttpRequest& request, const std::filesystem::path& file,
             const httpclient_core::ProgressCallback& progress) override;

private:
    TransferObservers observersNow() const;

    std::shared_ptr<httpclient_core::HttpClient> inner_;
    ObserverLookup lookupObservers_;
    std::chrono::milliseconds progressInterval_;
};

} // namespace foundation::httpclient
