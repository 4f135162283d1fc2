#pragma once

#include <foundation/httpclient_core/TransferObserver.h>

#include <string>
#include <vector>

/// Records every call as a line: "started URL", "progress URL GOT/TOTAL", "finished URL ok|failed".
/// The calls come on the thread of the transfer, which the tests wait for.
struct RecordingObserver : foundation::httpclient_core::TransferObserver {
    void transferStarted(const std::string& url) override { calls.push_back("started " + url); }
    void transferProgress(const std::string& url, std::uint64_t got,
                          std::optional<std::uint64_t> total) override {
        calls.push_back("progress " + url + " " + std::to_string(got) + "/" +
                        std::to_string(total.value_or(0)));
    }
    void transferFinished(const std::string& url, bool ok) override {
        calls.push_back("finished " + url + (ok ? " ok" : " failed"));
    }
    std::vector<std::string> calls;
};
