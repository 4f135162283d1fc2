#pragma once

// Stand-ins for the services of other bundles that the module asks the framework for.
#include <agent/spf/externalprocessdiscovery/UserStorageRootOverride.h>
#include <fl/filesystem/path_conversion.h>
#include <foundation/httpproxy/ProxySelector.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tripwire::testsupport {

/// Fixed folder overrides (empty: no override); throws instead of answering while `failing`.
class FixedOverride : public agent::spf::externalprocessdiscovery::UserStorageRootOverride {
public:
    FixedOverride(std::string first, std::string second, bool failing = false)
        : failing(failing), first(std::move(first)), second(std::move(second)) {}

    std::string description() const override { return "test override"; }
    fl::filesystem::basic_path firstFolderOverride() const override {
        ++firstCalls;
        return answer(first);
    }
    fl::filesystem::basic_path secondFolderOverride() const override { return answer(second); }

    mutable std::atomic<int> firstCalls{0};
    std::atomic<bool> failing;

private:
    fl::filesystem::basic_path answer(const std::string& path) const {
        if (failing)
            throw std::runtime_error("override service failed");
        return fl::filesystem::path_from_utf8(path);
    }
    std::string first;
    std::string second;
};

/// Answers every URL with a fixed list (or throws while `failing`) and keeps the URLs asked.
class FixedProxySelector : public foundation::httpproxy::ProxySelector {
public:
    explicit FixedProxySelector(foundation::httpproxy::ProxyList answer, bool failing = false)
        : answer(std::move(answer)), failing(failing) {}

    void setAnswer(foundation::httpproxy::ProxyList replacement) {
        std::lock_guard<std::mutex> lock(mutex);
        answer = std::move(replacement);
    }
    foundation::httpproxy::ProxyList select(const std::string& url) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (failing)
            throw std::runtime_error("selector broke");
        urls.push_back(url);
        return answer;
    }
    std::vector<std::string> askedUrls() {
        std::lock_guard<std::mutex> lock(mutex);
        return urls;
    }

private:
    foundation::httpproxy::ProxyList answer;
    bool failing;
    std::mutex mutex;
    std::vector<std::string> urls;
};

} // namespace tripwire::testsupport
