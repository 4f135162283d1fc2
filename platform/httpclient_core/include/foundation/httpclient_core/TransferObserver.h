#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace foundation::httpclient_core {

/// An optional framework service that follows the downloads an HttpClient performs, whoever
/// asked for them; a host registers one to show progress. The client tells every observer
/// registered when a download starts; calls arrive on the downloading thread, must return
/// quickly and must not throw (what they throw is ignored). `url` is the requested URL without
/// its fragment.
class TransferObserver {
public:
    virtual void transferStarted(const std::string& url) = 0;
    virtual void transferProgress(const std::string& url, std::uint64_t received,
                                  std::optional<std::uint64_t> total) = 0;
    virtual void transferFinished(const std::string& url, bool succeeded) = 0;
    virtual ~TransferObserver() = default;
};

} // namespace foundation::httpclient_core
