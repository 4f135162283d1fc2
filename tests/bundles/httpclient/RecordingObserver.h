#pragma once

#include <foundation/httpclient_core/TransferObserver.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace foundation::httpclient::testing_support {

/// Records every call as one line: "started URL", "progress URL RECEIVED/TOTAL" ("?" for an
/// unknown total), "finished URL ok|failed".
class RecordingObserver : public httpclient_core::TransferObserver {
public:
    void transferStarted(const std::string& url) override { record("started " + url); }
    void transferProgress(const std::string& url, std::uint64_t received,
                          std::optional<std::uint64_t> total) override {
        record("progress " + url + " " + std::to_string(received) + "/" +
               (total ? std::to_string(*total) : std::string("?")));
    }
    void transferFinished(const std::string& url, bool succeeded) override {
        record("finished " + url + (succeeded ? " ok" : " failed"));
    }

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(guard);
        return recorded;
    }

private:
    void record(std::string call) {
        std::lock_guard<std::mutex> lock(guard);
        recorded.push_back(std::move(call));
    }

    mutable std::mutex guard;
    std::vector<std::string> recorded;
};

} // namespace foundation::httpclient::testing_support
