#pragma once

#include <foundation/httpclient_core/TransferObserver.h>

#include <mutex>
#include <string>
#include <vector>

/// Records every call as one line: "started URL", "progress URL RECEIVED/TOTAL" ("?" for an
/// unknown total), "finished URL ok|failed".
class RecordingObserver : public foundation::httpclient_core::TransferObserver {
public:
    void transferStarted(const std::string& url) override { record("started " + url); }
    void transferProgress(const std::string& url, std::uint64_t received,
                          std::optional<std::uint64_t> total) override {
        record("progress " + url + " " + std::to_string(received) + "/" +
               (total ? std::to_string(*total) : "?"));
    }
    void transferFinished(const std::string& url, bool ok) override {
        record("finished " + url + (ok ? " ok" : " failed"));
    }
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(guard);
        return recorded;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(guard);
        recorded.clear();
    }

private:
    void record(std::string call) {
        std::lock_guard<std::mutex> lock(guard);
        recorded.push_back(std::move(call));
    }
    mutable std::mutex guard;
    std::vector<std::string> recorded;
};
