#include <foundation/httpclient/ObservedHttpClient.h>

#include <optional>
#include <string>

namespace foundation::httpclient {

using httpclient_core::HttpRequest;
using httpclient_core::HttpResponse;
using httpclient_core::ProgressCallback;
using httpclient_core::TransferObserver;

namespace {

std::string withoutFragment(const std::string& url) {
    return url.substr(0, url.find('#'));
}

// Calls `call` on every observer; an observer that throws is skipped, the others still hear.
template <typename Call> void tellEach(const TransferObservers& observers, const Call& call) {
    for (const auto& observer : observers) {
        try {
            call(*observer);
        } catch (...) {
            // Watching a download must never change it.
        }
    }
}

// The progress of one download as observers see it: throttled, with the values held back last
// delivered when the download ends.
class ThrottledProgress {
public:
    ThrottledProgress(const TransferObservers& observers, const std::string& url,
                      std::chrono::milliseconds interval)
        : observers(observers), url(url), interval(interval) {}

    void update(std::uint64_t received, std::optional<std::uint64_t> total) {
        const auto now = std::chrono::steady_clock::now();
        if (lastDelivery && now - *lastDelivery < interval) {
            heldBack = Values{received, total};
            return;
        }
        lastDelivery = now;
        heldBack.reset();
        deliver(received, total);
    }

    void flush() {
        if (heldBack) {
            deliver(heldBack->received, heldBack->total);
            heldBack.reset();
        }
    }

private:
    struct Values {
        std::uint64_t received;
        std::optional<std::uint64_t> total;
    };

    void deliver(std::uint64_t received, std::optional<std::uint64_t> total) const {
        tellEach(observers, [&](TransferObserver& observer) {
            observer.transferProgress(url, received, total);
        });
    }

    const TransferObservers& observers;
    const std::string& url;
    std::chrono::milliseconds interval;
    std::optional<std::chrono::steady_clock::time_point> lastDelivery;
    std::optional<Values> heldBack;
};

} // namespace

ObservedHttpClient::ObservedHttpClient(std::shared_ptr<httpclient_core::HttpClient> inner,
                                       ObserverLookup lookupObservers,
                                       std::chrono::milliseconds progressInterval)
    : inner_(std::move(inner)), lookupObservers_(std::move(lookupObservers)),
      progressInterval_(progressInterval) {}

HttpResponse ObservedHttpClient::send(const HttpRequest& request) {
    return inner_->send(request);
}

TransferObservers ObservedHttpClient::observersNow() const {
    if (!lookupObservers_)
        return {};
    try {
        TransferObservers found = lookupObservers_();
        std::erase(found, nullptr);
        return found;
    } catch (...) {
        return {};
    }
}

HttpResponse ObservedHttpClient::download(const HttpRequest& request,
                                          const std::filesystem::path& file,
                                          const ProgressCallback& progress) {
    const TransferObservers observers = observersNow();
    if (observers.empty())
        return inner_->download(request, file, progress);

    const std::string url = withoutFragment(request.url);
    ThrottledProgress throttled(observers, url, progressInterval_);
    const ProgressCallback observed = [&](std::uint64_t received,
                                          std::optional<std::uint64_t> total) {
        throttled.update(received, total);
        return progress ? progress(received, total) : true;
    };

    tellEach(observers, [&](TransferObserver& observer) { observer.transferStarted(url); });
    bool succeeded = false;
    try {
        HttpResponse response = inner_->download(request, file, observed);
        succeeded = response.isSuccess();
        throttled.flush();
        tellEach(observers,
                 [&](TransferObserver& observer) { observer.transferFinished(url, succeeded); });
        return response;
    } catch (...) {
        throttled.flush();
        tellEach(observers,
                 [&](TransferObserver& observer) { observer.transferFinished(url, false); });
        throw;
    }
}

} // namespace foundation::httpclient
