// The HTTP client bundle: registers one CurlHttpClient whose proxy comes, request by request,
// from the ProxySelector service of the framework the bundle runs in, and whose downloads are
// told to the framework's TransferObserver services.
#include <foundation/httpclient/CurlHttpClient.h>
#include <foundation/httpclient/EnvironmentOptions.h>
#include <foundation/httpclient/ObservedHttpClient.h>
#include <foundation/httpproxy/ProxySelector.h>

#include <cppmicroservices/BundleActivator.h>
#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/BundleInitialization.h>

#include <memory>

CPPMICROSERVICES_INITIALIZE_BUNDLE

namespace foundation::httpclient {
namespace {

ProxyChoice choiceFrom(const httpproxy::ProxyList& proxies) {
    if (proxies.empty() || proxies.front() == httpproxy::Proxy::NO_PROXY ||
        proxies.front().getHost().empty())
        return {};
    const auto& proxy = proxies.front();
    ProxyChoice choice{proxy.toUrl(), proxy.hasCredentials(), {}, {}};
    if (choice.hasCredentials) {
        choice.username = proxy.getCredentials().getUsername();
        choice.password = proxy.getCredentials().getPassword();
    }
    return choice;
}

// The selector is looked up anew for every request: it may come and go while the client lives.
ProxyChooser chooserFor(cppmicroservices::BundleContext context) {
    return [context](const std::string& url) mutable -> ProxyChoice {
        std::shared_ptr<httpproxy::ProxySelector> selector;
        try {
            const auto reference = context.GetServiceReference<httpproxy::ProxySelector>();
            if (reference)
                selector = context.GetService(reference);
        } catch (const std::exception&) {
            // A stopped bundle has no valid context any more: go direct.
            return {};
        }
        return selector ? choiceFrom(selector->select(url)) : ProxyChoice{};
    };
}

// Every observer registered when a download starts; a stopped bundle has none.
ObserverLookup observersOf(cppmicroservices::BundleContext context) {
    return [context]() mutable -> TransferObservers {
        TransferObservers observers;
        try {
            for (const auto& reference :
                 context.GetServiceReferences<httpclient_core::TransferObserver>()) {
                if (auto observer = context.GetService(reference))
                    observers.push_back(std::move(observer));
            }
        } catch (const std::exception&) {
            return {};
        }
        return observers;
    };
}

class Activator final : public cppmicroservices::BundleActivator {
public:
    void Start(cppmicroservices::BundleContext context) override {
        curl = std::make_shared<CurlHttpClient>(chooserFor(context), optionsFromEnvironment());
        auto client = std::make_shared<ObservedHttpClient>(curl, observersOf(context));
        registration = context.RegisterService<httpclient_core::HttpClient>(client);
    }

    void Stop(cppmicroservices::BundleContext) override {
        try {
            if (registration)
                registration.Unregister();
        } catch (const std::exception&) {
            // Already unregistered by the framework.
        }
        registration = {};
        // Holders of the client may outlive the bundle; their transfers end with it.
        if (curl)
            curl->close();
        curl.reset();
    }

private:
    std::shared_ptr<CurlHttpClient> curl;
    cppmicroservices::ServiceRegistration<httpclient_core::HttpClient> registration;
};

} // namespace
} // namespace foundation::httpclient

CPPMICROSERVICES_EXPORT_BUNDLE_ACTIVATOR(foundation::httpclient::Activator)
