#pragma once

#include <foundation/httpclient_core/TransferObserver.h>

#include <mutex>
#include <string>
#include <vector>

/// Records every call as a line: "started URL", "progress URL GOT/TOTAL", "finished URL ok|failed".
struct RecordingObserver : foundation::httpclient_core::TransferObserver {
    void transferStarted(const std::string& url) override { record("started " + url); }
    void transferProgress(const std::string& url, std::uint64_t got,
                          std::optional<std::uint64_t> total) override {
        record("progress " + url + " " + std::to_string(got) + "/" +
               std::to_string(total.value_or(0)));
    }
    void transferFinished(const std::string& url, bool ok) override {
        record("finished " + url + (ok ? " ok" : " failed"));
    }
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(guard);
        return recorded;
    }
    void record(std::string call) {
        std::lock_guard<std::mutex> lock(guard);
        recorded.push_back(std::move(call));
    }
    mutable std::mutex guard;
    std::vector<std::string> recorded;
};
