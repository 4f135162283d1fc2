#pragma once

// A running framework made the process's framework for one test, and stand-ins for the services
// of other bundles that the install pieces ask for.
#include <agent/spf/externalprocessdiscovery/UserStorageRootOverride.h>
#include <foundation/httpproxy/ProxySelector.h>

#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/Framework.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tripwire_test {

class RunningFramework {
public:
    RunningFramework();
    ~RunningFramework();
    RunningFramework(const RunningFramework&) = delete;
    RunningFramework& operator=(const RunningFramework&) = delete;

    cppmicroservices::BundleContext context();

    template <class Interface, class Impl> void registerService(const std::shared_ptr<Impl>& impl) {
        // Registrations end with the framework.
        (void)context().RegisterService<Interface>(impl);
    }

private:
    std::shared_ptr<cppmicroservices::Framework> framework;
};

// Answers every URL with a fixed list and remembers the URLs it was asked about.
class FixedProxySelector : public foundation::httpproxy::ProxySelector {
public:
    explicit FixedProxySelector(foundation::httpproxy::ProxyList answer)
        : answer(std::move(answer)) {}

    void setAnswer(foundation::httpproxy::ProxyList replacement) {
        std::lock_guard<std::mutex> lock(mutex);
        answer = std::move(replacement);
    }
    foundation::httpproxy::ProxyList select(const std::string& url) override {
        std::lock_guard<std::mutex> lock(mutex);
        urls.push_back(url);
        return answer;
    }
    std::vector<std::string> askedUrls() {
        std::lock_guard<std::mutex> lock(mutex);
        return urls;
    }

private:
    foundation::httpproxy::ProxyList answer;
    std::mutex mutex;
    std::vector<std::string> urls;
};

// Fixed folder overrides; counts how often the storage-root override was asked for, and throws
// instead of answering when told to.
class FixedStorageOverride : public agent::spf::externalprocessdiscovery::UserStorageRootOverride {
public:
    FixedStorageOverride(fl::filesystem::basic_path first, fl::filesystem::basic_path second)
        : first(std::move(first)), second(std::move(second)) {}

    std::string description() const override { return "test override"; }
    fl::filesystem::basic_path firstFolderOverride() const override {
        ++firstCalls;
        if (failing) {
            throw std::runtime_error("override service failed");
        }
        return first;
    }
    fl::filesystem::basic_path secondFolderOverride() const override { return second; }

    mutable std::atomic<int> firstCalls{0};
    std::atomic<bool> failing{false};

private:
    fl::filesystem::basic_path first;
    fl::filesystem::basic_path second;
};

// The staged tree of this build (TRIPWIRE_STAGE_DIR), and the sample kci archive in it; empty
// paths when not found.
std::string stageDirectory();
std::string stagedKciArchive();

} // namespace tripwire_test
